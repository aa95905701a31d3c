#include "chapterbuilder.h"

#include "epubbuilder.h"
#include "testfiles.h"

namespace {

const char* const kWords[] = { "lorem", "ipsum", "dolor", "sit", "amet", "consectetur", "adipiscing", "elit", "sed",
    "do", "eiusmod", "tempor", "incididunt", "ut", "labore", "et", "dolore", "magna", "aliqua", "enim", "ad", "minim",
    "veniam", "quis", "nostrud", "exercitation", "ullamco", "laboris", "nisi", "aliquip", "ex", "ea", "commodo",
    "consequat", "duis", "aute", "irure", "in", "reprehenderit", "voluptate", "velit", "esse", "cillum", "fugiat",
    "nulla", "pariatur", "excepteur", "sint", "occaecat", "cupidatat", "non", "proident", "sunt", "culpa", "qui",
    "officia", "deserunt", "mollit", "anim", "id", "est", "laborum", "harbour", "lantern", "meadow", "river", "whisper",
    "journey", "morning", "quietly", "northern", "letters", "garden", "window" };

const char* const kCyrillic[] = { "Съешь же ещё этих мягких французских булок, да выпей чаю.",
    "В чащах юга жил бы цитрус, но фальшивый экземпляр.", "Широкая электрификация южных губерний даст мощный толчок.",
    "Любя, съешь щипцы, вздохнёт мэр, кайф жгуч.", "Эх, чужак, общий съём цен шляп теперь вдруг ясен." };

const char* const kCjk[] = { "天地玄黄，宇宙洪荒。", "日月盈昃，辰宿列张。", "寒来暑往，秋收冬藏。",
    "閏餘成歲，律呂調陽。", "雲騰致雨，露結為霜。", "吾輩は猫である。名前はまだ無い。" };

template <typename T, int N> constexpr int count(T (&)[N]) { return N; }

QString capitalised(const QString& text) { return text.isEmpty() ? text : text.at(0).toUpper() + text.mid(1); }

} // namespace

quint32 ChapterBuilder::nextRandom()
{
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 5;
    return m_state;
}

int ChapterBuilder::randomBetween(int low, int high) { return low + int(nextRandom() % quint32(high - low + 1)); }

QString ChapterBuilder::word() { return QString::fromLatin1(kWords[nextRandom() % count(kWords)]); }

QString ChapterBuilder::sentence(int minWords, int maxWords)
{
    const int words = randomBetween(minWords, maxWords);
    QStringList list;
    for (int i = 0; i < words; ++i)
        list << word();
    if (words > 6 && nextRandom() % 3 == 0)
        list[words / 2] += QLatin1Char(',');
    if (nextRandom() % 7 == 0)
        list.insert(qMin(2, list.size()), QStringLiteral("Mr. Smith"));
    static const char* const ends[] = { ".", ".", ".", ".", "?", "!" };
    return capitalised(list.join(QLatin1Char(' '))) + QLatin1String(ends[nextRandom() % count(ends)]);
}

void ChapterBuilder::addProse(int paragraphs, int minWords, int maxWords)
{
    for (int p = 0; p < paragraphs; ++p) {
        const int target = randomBetween(minWords, maxWords);
        QString html;
        int words = 0;
        while (words < target) {
            QString s = sentence(5, 18);
            words += s.count(QLatin1Char(' ')) + 1;
            const int markup = int(nextRandom() % 10);
            if (markup == 0) {
                s = QStringLiteral("<em>%1</em>").arg(s);
            } else if (markup == 1) {
                const int space = s.indexOf(QLatin1Char(' '), s.size() / 2);
                if (space > 0)
                    s = s.left(space) + QStringLiteral(" <b>") + word() + QStringLiteral("</b>") + s.mid(space);
            } else if (markup == 2) {
                s += QStringLiteral(" <a href=\"#top\">%1</a>.").arg(capitalised(word()));
            }
            html += (html.isEmpty() ? QString() : QStringLiteral(" ")) + s;
        }
        addParagraph(html);
    }
}

void ChapterBuilder::addLongParagraph(int minChars)
{
    QString words;
    while (words.size() < minChars)
        words += sentence(20, 40) + QLatin1Char(' ');
    addParagraph(words);
}

void ChapterBuilder::addPhrases(const char* const* phrases, int count, int sentences, const QString& separator)
{
    QStringList list;
    for (int i = 0; i < sentences; ++i)
        list << QString::fromUtf8(phrases[nextRandom() % quint32(count)]);
    addParagraph(list.join(separator));
}

void ChapterBuilder::addImage(int width, int height)
{
    const QString name = QStringLiteral("image%1.png").arg(m_images.size() + 1);
    m_images.append({ name, QSize(width, height) });
    m_body
        += QStringLiteral("<div class=\"figure\"><img src=\"%1\" width=\"%2\" height=\"%3\" alt=\"figure\"/></div>\n")
               .arg(name)
               .arg(width)
               .arg(height);
}

void ChapterBuilder::addList(int items, bool ordered)
{
    const QString tag = ordered ? QStringLiteral("ol") : QStringLiteral("ul");
    m_body += QStringLiteral("<%1>\n").arg(tag);
    for (int i = 0; i < items; ++i)
        m_body += QStringLiteral("<li>%1</li>\n").arg(sentence(4, 14));
    m_body += QStringLiteral("</%1>\n").arg(tag);
}

void ChapterBuilder::addTable(int rows, int columns)
{
    m_body += QStringLiteral("<table>\n<tr>");
    for (int c = 0; c < columns; ++c)
        m_body += QStringLiteral("<th>%1</th>").arg(capitalised(word()));
    m_body += QStringLiteral("</tr>\n");
    for (int r = 0; r < rows; ++r) {
        m_body += QStringLiteral("<tr>");
        for (int c = 0; c < columns; ++c)
            m_body += QStringLiteral("<td>%1 %2</td>").arg(word(), QString::number(randomBetween(1, 999)));
        m_body += QStringLiteral("</tr>\n");
    }
    m_body += QStringLiteral("</table>\n");
}

void ChapterBuilder::addPre(int lines)
{
    m_body += QStringLiteral("<pre>");
    for (int i = 0; i < lines; ++i) {
        m_body += QStringLiteral("%1%2 = %3(%4);\n")
                      .arg(QString(2 * (i % 3), QLatin1Char(' ')), word(), word(), QString::number(i));
    }
    m_body += QStringLiteral("</pre>\n");
}

void ChapterBuilder::addRealisticContent(int approxBytes)
{
    int section = 0;
    while (m_body.toUtf8().size() < approxBytes) {
        ++section;
        addHeading(2, QStringLiteral("Section %1").arg(section));
        addProse(randomBetween(3, 6));
        switch (section % 6) {
        case 1:
            addImage(randomBetween(160, 320), randomBetween(100, 240));
            break;
        case 2:
            addList(randomBetween(3, 6), section % 4 == 2);
            addPhrases(kCyrillic, count(kCyrillic), randomBetween(4, 8), QStringLiteral(" "));
            break;
        case 3:
            addTable(randomBetween(3, 6), 3);
            addPhrases(kCjk, count(kCjk), randomBetween(4, 10), QString());
            break;
        case 4:
            addPre(randomBetween(4, 8));
            break;
        case 5:
            addHeading(3, QStringLiteral("Notes"));
            addPhrases(kCyrillic, count(kCyrillic), 3, QStringLiteral(" "));
            break;
        default:
            addImage(randomBetween(200, 400), randomBetween(300, 600));
            break;
        }
        addProse(randomBetween(2, 4));
    }
}

QString ChapterBuilder::head() const
{
    return QStringLiteral("<head>\n<title>Chapter</title>\n<style type=\"text/css\">\n"
                          "body { font-family: 'DejaVu Serif'; }\n"
                          "h1, h2, h3 { font-family: 'DejaVu Sans'; }\n"
                          "pre, code { font-family: 'DejaVu Sans Mono'; font-size: 0.8em; }\n"
                          "table { border-collapse: collapse; }\n"
                          "td, th { border: 1px solid #888888; padding: 2px 4px; }\n"
                          "div.figure { text-align: center; margin: 0.5em 0; }\n"
                          "</style>\n</head>\n");
}

QByteArray ChapterBuilder::xhtml() const
{
    return (QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
                           "<html xmlns=\"http://www.w3.org/1999/xhtml\">\n")
        + head() + QStringLiteral("<body>\n") + m_body + QStringLiteral("</body>\n</html>\n"))
        .toUtf8();
}

QByteArray ChapterBuilder::html() const
{
    return (QStringLiteral("<!DOCTYPE html>\n<html>\n")
        + head().replace(QLatin1String("<head>\n"), QLatin1String("<head>\n<meta charset=\"utf-8\">\n"))
        + QStringLiteral("<body>\n") + m_body + QStringLiteral("</body>\n</html>\n"))
        .toUtf8();
}

QString ChapterBuilder::write(const QString& folder, const QString& fileName) const
{
    const QDir dir(folder);
    for (const Image& image : m_images) {
        if (!testfiles::write(
                dir.filePath(image.name), EpubBuilder::png(image.size.width(), image.size.height(), 0x6688aa)))
            return QString();
    }
    const bool asXhtml = fileName.endsWith(QLatin1String(".xhtml"), Qt::CaseInsensitive);
    return testfiles::write(dir.filePath(fileName), asXhtml ? xhtml() : html()) ? dir.filePath(fileName) : QString();
}

QString ChapterBuilder::inlineCode()
{
    static const char* const forms[] = { "%1_%2()", "--%1-%2", "%1.%2", "PL_%1_%2", "%1->%2" };
    return QStringLiteral("<code>%1</code>")
        .arg(QString::fromLatin1(forms[nextRandom() % count(forms)]).arg(word(), word()).toHtmlEscaped());
}

QString ChapterBuilder::manualProse()
{
    QString html;
    for (int s = randomBetween(2, 5); s > 0; --s) {
        QString text = sentence(6, 20);
        const int space = text.indexOf(QLatin1Char(' '), text.size() / 3);
        if (space > 0 && nextRandom() % 2 == 0)
            text = text.left(space) + QLatin1Char(' ') + inlineCode() + text.mid(space);
        html += (html.isEmpty() ? QString() : QStringLiteral(" ")) + text;
    }
    return html;
}

void ChapterBuilder::addManualSection(const QString& number, int depth)
{
    m_body += QStringLiteral("<div class=\"section\" id=\"s%1\">\n")
                  .arg(QString(number).replace(QLatin1Char('.'), QLatin1Char('-')));
    m_body += QStringLiteral("<h%1>%2 %3</h%1>\n")
                  .arg(depth + 1)
                  .arg(number, capitalised(word()) + QLatin1Char(' ') + word());
    addParagraph(manualProse());
    switch (nextRandom() % 5) {
    case 0:
        addPre(randomBetween(3, 14));
        break;
    case 1: {
        m_body += QStringLiteral("<table class=\"options\">\n"
                                 "<thead><tr><th>Option</th><th>Default</th><th>Meaning</th></tr></thead>\n<tbody>\n");
        for (int r = randomBetween(2, 7); r > 0; --r)
            m_body += QStringLiteral("<tr><td>%1</td><td><code>%2</code></td><td>%3</td></tr>\n")
                          .arg(inlineCode(), QString::number(randomBetween(0, 4096)), sentence(3, 12));
        m_body += QStringLiteral("</tbody>\n</table>\n");
        break;
    }
    case 2:
        m_body += QStringLiteral("<ul>\n");
        for (int i = randomBetween(2, 6); i > 0; --i)
            m_body += QStringLiteral("<li><p>%1</p></li>\n").arg(manualProse());
        m_body += QStringLiteral("</ul>\n");
        break;
    case 3:
        m_body += QStringLiteral("<dl>\n");
        for (int i = randomBetween(2, 5); i > 0; --i)
            m_body += QStringLiteral("<dt>%1</dt>\n<dd><p>%2</p></dd>\n").arg(inlineCode(), manualProse());
        m_body += QStringLiteral("</dl>\n");
        break;
    default:
        addParagraph(manualProse());
        break;
    }
    if (depth < 3) {
        for (int i = 1, sections = randomBetween(1, 4); i <= sections; ++i)
            addManualSection(number + QLatin1Char('.') + QString::number(i), depth + 1);
    }
    m_body += QStringLiteral("</div>\n");
}

void ChapterBuilder::addManualContent(int approxBytes)
{
    while (m_body.size() < approxBytes)
        addManualSection(QString::number(++m_manualSections), 0);
}
