#include "fbtextcodec.h"

#include <QDebug>
#include <QRegularExpression>
#include <QTextCodec>

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

// UTF-16 without a byte-order mark: legacy 8-bit text and UTF-8 hold no NUL bytes, while
// UTF-16 has one in every ASCII character (blanks, line ends, digits), all on the same side
// of their pair. The decoded sample must also look like text, not binary data.
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
    if (zerosOdd > 0 && zerosEven * 10 <= zerosOdd)
        name = "UTF-16LE";
    else if (zerosEven > 0 && zerosOdd * 10 <= zerosEven)
        name = "UTF-16BE";
    if (!name)
        return nullptr;
    QTextCodec* codec = QTextCodec::codecForName(name);
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    const QString sample = codec->toUnicode(bytes.constData(), size, &state);
    int controls = 0;
    for (const QChar c : sample) {
        if (c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\r') && c != QLatin1Char('\t')
            && c != QLatin1Char('\f'))
            ++controls;
    }
    if (state.invalidChars > 0 || controls * 100 > sample.size())
        return nullptr;
    return codec;
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

} // namespace

namespace fb2 {

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

QTextCodec* detectCodec(const QByteArray& bytes)
{
    if (QTextCodec* marked = QTextCodec::codecForUtfText(bytes, nullptr))
        return marked;
    // UTF-16 of ASCII and Cyrillic letters is valid UTF-8 too (NULs and bytes below 0x80),
    // so it is ruled out first.
    if (QTextCodec* codec = utf16WithoutMark(bytes))
        return codec;
    if (isValidUtf8(bytes))
        return utf8();
    if (QTextCodec* codec = statisticalGuess(bytes))
        return codec;
    return QTextCodec::codecForLocale();
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
