// Library cards while covers arrive: a window of card covers scrolled over 10,000 books in 120 px
// steps, every book showing one of 50 generated 600 x 900 JPEG covers. Each frame re-points the
// visible covers and paints them; covers are decoded on the pool meanwhile.
// Usage: bench_libraryitems [book count, default 10000]

#include "kelapplication.h"
#include "mainwindow/librarypage/bookthumbnailwidget.h"
#include "temphome.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QImage>
#include <QPainter>
#include <QTextStream>
#include <QThreadPool>
#include <QUuid>

#include <algorithm>

int main(int argc, char* argv[])
{
    TempHome home;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    KelApplication app(QUuid::createUuid().toString(), argc, argv);
    const int books = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10000;
    QTextStream out(stdout);

    QStringList covers;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 50; ++i) {
        QImage image(600, 900, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.fillRect(image.rect(), QColor::fromHsv(i * 7, 160, 200));
        painter.setPen(Qt::white);
        for (int y = 0; y < 900; y += 30)
            painter.drawLine(0, y, 600, y + i * 5);
        painter.end();
        covers << home.path() + QStringLiteral("/cover%1.jpg").arg(i);
        image.save(covers.last(), "JPEG", 90);
    }
    out << "50 covers written: " << timer.elapsed() << " ms\n";

    // What a 1280 x 900 view shows of cards 214 x 293 (plus their 6 px gap): 5 columns, 4 lines.
    const int columns = 5;
    const int lines = 4;
    const int lineHeight = 293 + 80;
    QWidget view;
    auto* grid = new QGridLayout(&view);
    QList<BookThumbnailWidget*> cards;
    for (int i = 0; i < columns * lines; ++i) {
        cards << new BookThumbnailWidget(1);
        grid->addWidget(cards.last(), i / columns, i % columns);
    }
    view.resize(view.sizeHint());
    QPixmap frame(view.size());

    QList<qint64> frames;
    const int totalHeight = (books + columns - 1) / columns * lineHeight;
    for (int y = 0; y + lines * lineHeight < totalHeight; y += 120) {
        timer.restart();
        const int firstBook = y / lineHeight * columns;
        for (int i = 0; i < cards.size(); ++i) {
            const int book = firstBook + i;
            cards[i]->setImagePath(covers[book % covers.size()]);
            cards[i]->setTitle(QStringLiteral("Volume %1 of the collected works").arg(book));
            cards[i]->setAuthor(QStringLiteral("Author %1").arg(book % 211));
            cards[i]->setColorIndex(book % 10);
        }
        view.render(&frame);
        QCoreApplication::processEvents();
        frames << timer.nsecsElapsed() / 1000;
    }
    QThreadPool::globalInstance()->waitForDone();
    std::sort(frames.begin(), frames.end());
    auto at = [&](double q) { return frames.at(qMin(frames.size() - 1, int(q * frames.size()))) / 1000.0; };
    out << frames.size() << " frames of " << cards.size() << " cards: median " << at(0.5) << " ms, 99th percentile "
        << at(0.99) << " ms, slowest " << frames.last() / 1000.0 << " ms (target: 99th percentile under 16 ms)\n";
    return 0;
}
