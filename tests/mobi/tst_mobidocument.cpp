#include "bookfiles.h"
#include "formats/mobi/mobi.h"
#include "formats/mobi/mobidocument.h"
#include "formats/mobi/textpositions.h"
#include "mobiwriter.h"
#include "testfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <QTextCodec>

using mobi::MobiDocument;

namespace {
QString readFile(const QString& path) { return QString::fromUtf8(testfiles::read(path)); }

QString anchor(const QString& digits) { return QStringLiteral("<a id='%1' name='%1'>&nbsp;</a>").arg(digits); }

const QString head
    = QStringLiteral("<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset = utf-8\"/></head>");

// A link target written as ten characters, like the ten digits real books use, so that
// resolving it changes no offset.
QByteArray token(const QByteArray& name) { return "#" + name.leftJustified(8, '_') + "#"; }

// Replaces the token of every name by the byte offset of the marker "@name@" in the text
// without the markers, then drops the markers.
QByteArray resolveLinks(QByteArray text, const QList<QByteArray>& names)
{
    QMap<int, QByteArray> markers;
    for (const QByteArray& name : names)
        markers.insert(text.indexOf("@" + name + "@"), name);
    int removed = 0;
    QHash<QByteArray, int> offsets;
    for (auto it = markers.cbegin(); it != markers.cend(); ++it) {
        offsets.insert(it.value(), it.key() - removed);
        removed += it.value().size() + 2;
    }
    for (const QByteArray& name : names) {
        text.replace("@" + name + "@", "");
        text.replace(token(name), QByteArray::number(offsets.value(name)).rightJustified(10, '0'));
    }
    return text;
}
}

class TestMobiDocument : public QObject {
    Q_OBJECT

private:
    BookFiles m_files;
    int m_folders = 0;

    QString outputFolder()
    {
        const QString path = m_files.filePath(QStringLiteral("out%1").arg(++m_folders));
        QDir().mkpath(path);
        return path;
    }

    // A document whose book is irrelevant: for calling toHtml directly.
    QString convert(const QString& text, QStringList* titles = nullptr)
    {
        MobiWriter writer;
        writer.setText("x");
        MobiDocument document(m_files.save(writer.build()));
        const QString html = document.toHtml(text);
        if (titles)
            *titles = document.headingTitles();
        return html;
    }

private slots:
    void loadConvertsTheBook()
    {
        const QByteArray text = "<html><head><guide></guide></head><body>"
                                "<h1>Title Page</h1><p>Opening words.</p><mbp:pagebreak/>"
                                "<h2 class=\"chapter\">Chapter <b>One</b></h2><p>Text one.</p>"
                                "<img recindex=\"00002\" width=\"300\"/><MBP:PAGEBREAK/>"
                                "<h3 id='x'>Part &amp; Parcel</h3><h4>Four</h4><h5>Five is not collected</h5>"
                                "<p><img recindex=\"00001\"></p></body></html>";
        MobiWriter writer;
        writer.setText(text);
        writer.setFullName("Converted");
        writer.addImage(MobiWriter::image(QSize(12, 8), Qt::red, "PNG"));
        writer.addImage(MobiWriter::image(QSize(20, 30), Qt::blue, "JPG"));
        writer.setTrailerRecords(true);
        MobiDocument document(m_files.save(writer.build()));
        QCOMPARE(document.metaObject()->className(), "mobi::MobiDocument");
        QVERIFY(!document.parent());

        const QString folder = outputFolder();
        QVERIFY(document.load(folder));
        const QString name = QFileInfo(folder).fileName();
        QCOMPARE(document.basePath(), folder);
        QCOMPARE(document.chapters(), QStringList { name + ".html" });
        const QString html = readFile(folder + "/" + name + ".html");
        QVERIFY(html.startsWith(head + "<html><head><guide>"));
        QVERIFY(html.contains("<p>Opening words.</p><p style=\"page-break-after:always\"></p>"));
        QVERIFY(html.contains("<MBP:PAGEBREAK/>"));
        QVERIFY(html.contains("<center><img src=\"pdbrec_00002.jpg\"></center><MBP:PAGEBREAK/>"));
        QVERIFY(html.contains("<p><center><img src=\"pdbrec_00001.jpg\"></center></p>"));

        QCOMPARE(document.headingTitles(), QStringList({ "Title Page", "Chapter One", "Part &amp; Parcel", "Four" }));
        const QList<TocPoint> toc = document.toc();
        QCOMPARE(toc.size(), 4);
        for (int k = 0; k < toc.size(); ++k) {
            const QString id = document.headingIds().at(k);
            QVERIFY(QRegularExpression("^[0-9a-f]{32}$").match(id).hasMatch());
            QCOMPARE(toc[k].title, document.headingTitles().at(k));
            QCOMPARE(toc[k].link->source, name + ".html#" + id);
            QCOMPARE(toc[k].link->page, -1);
            QVERIFY(toc[k].children.isEmpty());
            QCOMPARE(toc[k].index, 0);
        }
        QVERIFY(html.contains("Chapter <b>One</b></h2><a id='" + document.headingIds().at(1) + "'>&nbsp;</a>"));
        QCOMPARE(html.count("&nbsp;</a>"), 4);
        const QJsonArray json = document.tocToJson().toArray();
        QCOMPARE(json.size(), 4);
        QCOMPARE(json[1].toObject().value("Title").toString(), QStringLiteral("Chapter One"));

        // Images are saved as JPEG files numbered from 1; the trailer records are skipped.
        QCOMPARE(QImage(folder + "/pdbrec_00001.jpg").size(), QSize(12, 8));
        QCOMPARE(QImage(folder + "/pdbrec_00002.jpg").size(), QSize(20, 30));
        QVERIFY(!QFile::exists(folder + "/pdbrec_00003.jpg"));

        // A second load makes the same chapter and contents, not twice as many.
        QVERIFY(document.load(folder));
        QCOMPARE(document.chapters().size(), 1);
        QCOMPARE(document.toc().size(), 4);
    }

    void fileposAnchors_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString filler(2745, QLatin1Char('x'));
        const QString link = QStringLiteral("<a filepos=0000002750>go</a>");
        QTest::newRow("target inside a tag: anchor before the tag")
            << link + filler.mid(link.size()) + "<p class='c'>word</p>"
            << "<a href=\"#0000002750\">go</a>" + filler.mid(link.size()) + anchor("0000002750")
                + "<p class='c'>word</p>";
        QTest::newRow("target between tags: anchor at the target")
            << link + filler.mid(link.size()) + "<p>words here</p>"
            << "<a href=\"#0000002750\">go</a>" + filler.mid(link.size()) + "<p>wo" + anchor("0000002750")
                + "rds here</p>";
        QTest::newRow("same target, different padding")
            << QStringLiteral("<a filepos=00040>a</a> <a href=\"x\" filepos=\"40\">b</a> <p>0123456789 target</p>")
            << QStringLiteral("<a href=\"#00040\">a</a> ") + anchor("40")
                + QStringLiteral("<a href=\"#40\">b</a> <p>0123456789 target</p>");
        QTest::newRow("filepos zero: no anchor, link still rewritten")
            << QStringLiteral("<a filepos=0>start</a>") << QStringLiteral("<a href=\"#0\">start</a>");
        QTest::newRow("beyond the end: no anchor")
            << QStringLiteral("<a filepos='9999'>far</a>") << QStringLiteral("<a href=\"#9999\">far</a>");
        QTest::newRow("two targets in one tag")
            << QStringLiteral("<A FILEPOS=22>a</A><A FILEPOS=24>b</A><p id='long'>x</p>")
            << QStringLiteral("<a href=\"#22\">a</A>") + anchor("22") + anchor("24")
                + QStringLiteral("<a href=\"#24\">b</A><p id='long'>x</p>");
    }

    void fileposAnchors()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(convert(text), expected);
    }

    void imagesAndHeadings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("img with width") << QStringLiteral("<p><img width=\"50%\" recindex=\"00003\" alt='a'/></p>")
                                        << QStringLiteral("<p><center><img src=\"pdbrec_00003.jpg\"></center></p>")
                                        << QStringList();
        QTest::newRow("capital IMG") << QStringLiteral("<IMG RECINDEX=\"7\">")
                                     << QStringLiteral("<center><img src=\"pdbrec_7.jpg\"></center>") << QStringList();
        QTest::newRow("img without recindex keeps the text after it")
            << QStringLiteral("<img src=\"a.jpg\"> kept text <img recindex=\"00001\">")
            << QStringLiteral("<img src=\"a.jpg\"> kept text <center><img src=\"pdbrec_00001.jpg\"></center>")
            << QStringList();
        QTest::newRow("level 5 heading") << QStringLiteral("<h5>Five</h5>") << QStringLiteral("<h5>Five</h5>")
                                         << QStringList();
        QTest::newRow("mismatched levels")
            << QStringLiteral("<h2>Two</h3>") << QStringLiteral("<h2>Two</h3>") << QStringList();
        QTest::newRow("quoted attribute")
            << QStringLiteral("<h1 title=\"x\" class='y'>Quoted</h1>") << QString() << QStringList { "Quoted" };
        QTest::newRow("multi-line heading")
            << QStringLiteral("<H3>\n  Line one\n</H3>") << QString() << QStringList { "Line one" };
    }

    void imagesAndHeadings()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QFETCH(QStringList, titles);
        QStringList found;
        const QString html = convert(text, &found);
        if (!expected.isEmpty())
            QCOMPARE(html, expected);
        QCOMPARE(found, titles);
    }

    void cyrillicLinksLandOnTheirWords()
    {
        // Targets far into a UTF-8 text, where byte offsets and character positions differ by
        // thousands, across several compressed records with multibyte tails.
        QByteArray text = "<html><body><p><a filepos=" + token("first") + ">К первой главе</a> <a filepos="
            + token("word") + ">к слову</a> <a filepos=" + token("last") + ">к концу</a></p>";
        for (int i = 0; i < 60; ++i)
            text += QStringLiteral("<p>Все счастливые семьи похожи друг на друга, каждая несчастливая семья "
                                   "несчастлива по-своему.</p>")
                        .toUtf8();
        text += "@first@<h2>Глава первая</h2><p>Всё смешалось в доме @word@Облонских.</p>";
        for (int i = 0; i < 60; ++i)
            text += QStringLiteral("<p>Жена узнала, что муж был в связи с бывшею в их доме француженкой.</p>").toUtf8();
        text += "<p>Последние @last@слова книги.</p></body></html>";
        text = resolveLinks(text, { "first", "word", "last" });

        MobiWriter writer;
        writer.setText(text);
        writer.setExtraDataFlags(0x3);
        const QString path = m_files.save(writer.build());
        QVERIFY(mobi::Mobi(path).textRecordEnd() > 4);
        MobiDocument document(path);
        const QString folder = outputFolder();
        QVERIFY(document.load(folder));
        const QString html = readFile(folder + "/" + QFileInfo(folder).fileName() + ".html");
        const QRegularExpression digits("<a href=\"#(\\d{10})\">");
        QRegularExpressionMatchIterator links = digits.globalMatch(html);
        QStringList targets;
        while (links.hasNext())
            targets << links.next().captured(1);
        QCOMPARE(targets.size(), 3);
        QVERIFY(html.contains(anchor(targets[0]) + "<h2>Глава первая</h2>"));
        QVERIFY(html.contains("в доме " + anchor(targets[1]) + "Облонских."));
        QVERIFY(html.contains("Последние " + anchor(targets[2]) + "слова книги."));
        QCOMPARE(document.toc().size(), 1);
        QCOMPARE(document.toc().first().title, QStringLiteral("Глава первая"));
    }

    void cp1252LinksUseBytePositions()
    {
        const QByteArray text
            = resolveLinks("<p><a filepos=" + token("t") + ">to</a> caf\xe9 na\xefve @t@target</p>", { "t" });
        MobiWriter writer;
        writer.setEncoding(1252);
        writer.setText(text);
        MobiDocument document(m_files.save(writer.build()));
        const QString folder = outputFolder();
        QVERIFY(document.load(folder));
        const QString html = readFile(folder + "/" + QFileInfo(folder).fileName() + ".html");
        QVERIFY2(html.contains(QStringLiteral("café naïve ")
                     + anchor(QString::number(text.indexOf("target")).rightJustified(10, '0')) + "target"),
            qPrintable(html));
    }

    void textPositions()
    {
        const QByteArray bytes = QStringLiteral("aж€𝄞b").toUtf8(); // 1 + 2 + 3 + 4 + 1 bytes
        mobi::TextPositions positions(bytes, QTextCodec::codecForName("UTF-8"));
        const QHash<quint64, int> map = positions.map({ 10, 0, 1, 2, 3, 6, 8, 11, 99 });
        QCOMPARE(map.value(0), 0);
        QCOMPARE(map.value(1), 1);
        QCOMPARE(map.value(2), 1); // inside "ж": its start
        QCOMPARE(map.value(3), 2);
        QCOMPARE(map.value(6), 3);
        QCOMPARE(map.value(8), 3); // inside the surrogate pair's character
        QCOMPARE(map.value(10), 5);
        QVERIFY(!map.contains(11));
        QVERIFY(!map.contains(99));
    }

    void loadResource()
    {
        MobiWriter writer;
        writer.setText("text");
        writer.addImage(MobiWriter::image(QSize(7, 9), Qt::red));
        writer.addImage(MobiWriter::image(QSize(3, 4), Qt::red));
        MobiDocument document(m_files.save(writer.build()));
        QCOMPARE(document.loadResource(2, QUrl("pdbrec:/1")).value<QImage>().size(), QSize(7, 9));
        QCOMPARE(document.loadResource(2, QUrl("pdbrec:/00002")).value<QImage>().size(), QSize(3, 4));
        QVERIFY(!document.loadResource(2, QUrl("pdbrec:/0")).isValid());
        QVERIFY(!document.loadResource(2, QUrl("pdbrec:/3")).isValid());
        QVERIFY(!document.loadResource(2, QUrl("pdbrec:/x")).isValid());
        QVERIFY(!document.loadResource(2, QUrl("pdbrec:/70000")).isValid());
        QVERIFY(!document.loadResource(1, QUrl("pdbrec:/1")).isValid());
        QVERIFY(!document.loadResource(2, QUrl("file:/1")).isValid());
    }

    void failedLoads()
    {
        const QString folder = outputFolder();
        MobiWriter good;
        good.setText("<p>Text</p>");
        good.addImage(MobiWriter::image(QSize(2, 2), Qt::red));

        MobiWriter other = good;
        other.setIdentifier("TEXt");
        MobiDocument notMobi(m_files.save(other.build(), "prc"));
        QVERIFY(!notMobi.load(folder));
        QVERIFY(notMobi.chapters().isEmpty());

        MobiWriter encrypted = good;
        encrypted.setEncryption(2);
        MobiDocument locked(m_files.save(encrypted.build()));
        QVERIFY(!locked.load(folder));
        QVERIFY(QDir(folder).entryList(QDir::Files).isEmpty());

        MobiWriter utf16 = good;
        utf16.setEncoding(1200);
        MobiDocument noCodec(m_files.save(utf16.build()));
        QVERIFY(!noCodec.load(folder));

        MobiWriter empty = good;
        empty.setText(QByteArray());
        MobiDocument noText(m_files.save(empty.build()));
        QVERIFY(!noText.load(folder));

        MobiWriter huff = good;
        huff.setCompression(MobiWriter::Compression::HuffCdic);
        QByteArray broken = huff.build();
        const QByteArray cdic = "CDIC";
        broken.replace(broken.indexOf(cdic), 4, "XXXX");
        MobiDocument badDictionary(m_files.save(broken));
        QVERIFY(!badDictionary.load(folder));

        MobiDocument missing(m_files.filePath("missing.mobi"));
        QVERIFY(!missing.load(folder));

        // A missing folder is made; one under a file cannot be.
        const QString book = m_files.save(good.build());
        MobiDocument unwritable(book);
        QVERIFY(!unwritable.load(book + "/folder"));
        QVERIFY(unwritable.chapters().isEmpty());
        QVERIFY(QDir(folder).entryList(QDir::Files).isEmpty());
    }
};

QTEST_MAIN(TestMobiDocument)
#include "tst_mobidocument.moc"
