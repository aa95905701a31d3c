#include "fbtextcodec.h"

#include <QDebug>
#include <QRegularExpression>
#include <QTextCodec>

#include <algorithm>
#include <array>
#include <functional>
#include <iterator>

#if __has_include(<uchardet.h>)
#include <uchardet.h>
#define PL_HAVE_UCHARDET 1
#endif

namespace {

// Enough text for the detectors to be sure, little enough to be quick on a large book.
constexpr int kSampleBytes = 256 * 1024;

QTextCodec* utf8() { return QTextCodec::codecForName("UTF-8"); }

bool isValidUtf8(const QByteArray& bytes)
{
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    utf8()->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

QTextCodec* statisticalGuess(const QByteArray& bytes)
{
#ifdef PL_HAVE_UCHARDET
    uchardet_t detector = uchardet_new();
    if (!detector)
        return nullptr;
    QTextCodec* codec = nullptr;
    if (uchardet_handle_data(detector, bytes.constData(), size_t(qMin(bytes.size(), kSampleBytes))) == 0) {
        uchardet_data_end(detector);
        const QByteArray name = uchardet_get_charset(detector);
        // It answers "ASCII" for anything it cannot place, UTF-16 included.
        if (!name.isEmpty() && name.compare("ASCII", Qt::CaseInsensitive) != 0)
            codec = QTextCodec::codecForName(name);
    }
    uchardet_delete(detector);
    return codec;
#else
    Q_UNUSED(bytes)
    return nullptr;
#endif
}

// The Greek DOS code page (737): neither Qt's codecs nor the statistical detector know it, yet
// plain-text Greek books from the DOS years are written in it.
// clang-format off
const ushort kDosGreekHigh[128] = {
    0x0391, 0x0392, 0x0393, 0x0394, 0x0395, 0x0396, 0x0397, 0x0398,
    0x0399, 0x039A, 0x039B, 0x039C, 0x039D, 0x039E, 0x039F, 0x03A0,
    0x03A1, 0x03A3, 0x03A4, 0x03A5, 0x03A6, 0x03A7, 0x03A8, 0x03A9,
    0x03B1, 0x03B2, 0x03B3, 0x03B4, 0x03B5, 0x03B6, 0x03B7, 0x03B8,
    0x03B9, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BE, 0x03BF, 0x03C0,
    0x03C1, 0x03C3, 0x03C2, 0x03C4, 0x03C5, 0x03C6, 0x03C7, 0x03C8,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03C9, 0x03AC, 0x03AD, 0x03AE, 0x03CA, 0x03AF, 0x03CC, 0x03CD,
    0x03CB, 0x03CE, 0x0386, 0x0388, 0x0389, 0x038A, 0x038C, 0x038E,
    0x038F, 0x00B1, 0x2265, 0x2264, 0x03AA, 0x03AB, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};
// clang-format on

class DosGreekCodec : public QTextCodec {
public:
    QByteArray name() const override { return QByteArrayLiteral("IBM737"); }
    QList<QByteArray> aliases() const override { return { QByteArrayLiteral("cp737") }; }
    int mibEnum() const override { return -737; }

protected:
    QString convertToUnicode(const char* in, int length, ConverterState*) const override
    {
        QString text(length, Qt::Uninitialized);
        for (int i = 0; i < length; ++i) {
            const uchar byte = uchar(in[i]);
            text[i] = QChar(byte < 0x80 ? ushort(byte) : kDosGreekHigh[byte - 0x80]);
        }
        return text;
    }

    QByteArray convertFromUnicode(const QChar* in, int length, ConverterState* state) const override
    {
        QByteArray bytes(length, Qt::Uninitialized);
        for (int i = 0; i < length; ++i) {
            const ushort c = in[i].unicode();
            char byte = '?';
            if (c < 0x80) {
                byte = char(c);
            } else {
                const ushort* found = std::find(std::begin(kDosGreekHigh), std::end(kDosGreekHigh), c);
                if (found != std::end(kDosGreekHigh))
                    byte = char(0x80 + (found - kDosGreekHigh));
                else if (state)
                    ++state->invalidChars;
            }
            bytes[i] = byte;
        }
        return bytes;
    }
};

// Greek letters fill 0x80-0xAF and 0xE0-0xF0 (and 0xF4, 0xF5) of the code page; the rest of
// its upper half is box drawing and symbols, rare in prose. Unlike Western text, where accented
// letters are few among plain ones, Greek text has every letter in the upper half.
bool looksLikeDosGreek(const QByteArray& bytes)
{
    const int size = qMin(bytes.size(), kSampleBytes);
    int high = 0;
    int greek = 0;
    int latin = 0;
    for (int i = 0; i < size; ++i) {
        const uchar byte = uchar(bytes.at(i));
        if (byte < 0x80) {
            latin += (byte | 0x20) >= 'a' && (byte | 0x20) <= 'z';
            continue;
        }
        ++high;
        greek += byte <= 0xAF || (byte >= 0xE0 && byte <= 0xF0) || byte == 0xF4 || byte == 0xF5;
    }
    return high >= 16 && greek * 100 >= high * 98 && high >= latin;
}

// The detector does not know the Greek DOS page and takes such text for Western text.
bool isWesternGuess(const QTextCodec* codec)
{
    const int mib = codec->mibEnum();
    return mib == 2252 || mib == 4 || mib == 111; // windows-1252, ISO-8859-1, ISO-8859-15
}

} // namespace

namespace fb2 {

QTextCodec* dosGreekCodec()
{
    // Qt's codec registry takes the codec over on construction.
    static QTextCodec* const codec = new DosGreekCodec;
    return codec;
}

QString encodingFromProlog(const QString& firstLine)
{
    static const QRegularExpression pattern(
        QStringLiteral("encoding\\s*=\\s*(\"|')(.*?)\\1"), QRegularExpression::CaseInsensitiveOption);
    const int end = firstLine.indexOf(QLatin1String("?>"));
    const QRegularExpressionMatch match = pattern.match(end < 0 ? firstLine : firstLine.left(end));
    const QString name = match.hasMatch() ? match.captured(2).trimmed() : QString();
    return name.isEmpty() ? QStringLiteral("UTF-8") : name;
}

QString firstLineOf(const QByteArray& bytes)
{
    const QByteArray head = bytes.left(1024);
    const int end = head.indexOf('\n');
    return QString::fromUtf8(end < 0 ? head : head.left(end));
}

QTextCodec* codecByName(const QString& name)
{
    return name.isEmpty() ? nullptr : QTextCodec::codecForName(name.toLatin1());
}

QTextCodec* fb2Codec(const QByteArray& bytes)
{
    const QString name = encodingFromProlog(firstLineOf(bytes));
    if (QTextCodec* codec = codecByName(name))
        return codec;
    qWarning() << "Unknown encoding" << name << "declared, guessing the encoding";
    return detectCodec(bytes);
}

// Legacy 8-bit text and UTF-8 hold no NUL bytes, while UTF-16 has one in every ASCII character
// (blanks, line ends, digits), all on the same side of their pair. Its text keeps to a script
// or two, so the other byte of each pair takes a few values (the script's block, 0 for ASCII),
// where 8-bit text with a few stray NUL bytes, read in pairs, spreads over its letters. The
// decoded sample must also look like text, not binary data: a NUL byte beside a control
// character is no ASCII character of a text.
QTextCodec* utf16WithoutMark(const QByteArray& bytes)
{
    const int size = qMin(bytes.size(), kSampleBytes) & ~1;
    int zerosEven = 0;
    int zerosOdd = 0;
    for (int i = 0; i < size; i += 2) {
        zerosEven += bytes.at(i) == 0;
        zerosOdd += bytes.at(i + 1) == 0;
    }
    const char* name = nullptr;
    int high = 0;
    if (zerosOdd > 0 && zerosEven * 10 <= zerosOdd) {
        name = "UTF-16LE";
        high = 1;
    } else if (zerosEven > 0 && zerosOdd * 10 <= zerosEven) {
        name = "UTF-16BE";
    }
    if (!name)
        return nullptr;
    std::array<int, 256> counts {};
    for (int i = high; i < size; i += 2)
        ++counts[uchar(bytes.at(i))];
    std::partial_sort(counts.begin(), counts.begin() + 4, counts.end(), std::greater<int>());
    if ((counts[0] + counts[1] + counts[2] + counts[3]) * 5 < (size / 2) * 4)
        return nullptr;
    QTextCodec* codec = QTextCodec::codecForName(name);
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    const QString sample = codec->toUnicode(bytes.constData(), size, &state);
    // Its ASCII characters are blanks, line ends and printable ones.
    int ascii = 0;
    int controls = 0;
    for (const QChar c : sample) {
        ascii += c.unicode() < 0x80;
        if (c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\r') && c != QLatin1Char('\t')
            && c != QLatin1Char('\f'))
            ++controls;
    }
    if (state.invalidChars > 0 || controls * 100 > ascii)
        return nullptr;
    return codec;
}

QTextCodec* detectCodec(const QByteArray& bytes)
{
    if (QTextCodec* marked = QTextCodec::codecForUtfText(bytes, nullptr))
        return marked;
    // UTF-16 of ASCII and Cyrillic letters is valid UTF-8 too (NULs and bytes below 0x80),
    // so it is ruled out first.
    if (QTextCodec* codec = utf16WithoutMark(bytes))
        return codec;
    return detectEightBitCodec(bytes, QTextCodec::codecForLocale());
}

QTextCodec* detectEightBitCodec(const QByteArray& bytes, QTextCodec* fallback)
{
    if (isValidUtf8(bytes))
        return utf8();
    QTextCodec* guess = statisticalGuess(bytes);
    if ((!guess || isWesternGuess(guess)) && looksLikeDosGreek(bytes))
        return dosGreekCodec();
    return guess ? guess : fallback;
}

QString decodeText(const QByteArray& bytes, QTextCodec* codec)
{
    QTextCodec* marked = QTextCodec::codecForUtfText(bytes, nullptr);
    QTextCodec* used = marked ? marked : codec;
    // With the mark's codec the default conversion drops the mark; a named legacy codec has
    // nothing to drop.
    return used->toUnicode(bytes);
}

} // namespace fb2
