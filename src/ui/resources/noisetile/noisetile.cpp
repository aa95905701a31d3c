// Writes the window background's grain: a grey noise tile as a PNG with a 16-entry palette.
// The seed is fixed, so every build produces the same picture.
#include <QImage>
#include <QVector>

#include <cstdio>
#include <random>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.png>\n", argv[0]);
        return 2;
    }
    const int side = 600;
    QImage tile(side, side, QImage::Format_Indexed8);
    QVector<QRgb> palette;
    for (int i = 0; i < 16; ++i)
        palette.append(qRgb(i * 17, i * 17, i * 17));
    tile.setColorTable(palette);
    std::mt19937 generator(20240611u);
    std::uniform_int_distribution<int> level(0, 15);
    for (int y = 0; y < side; ++y) {
        uchar* line = tile.scanLine(y);
        for (int x = 0; x < side; ++x)
            line[x] = uchar(level(generator));
    }
    if (!tile.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
