#include "formats/fb2/fbplaintext.h"
#include "formats/fb2/fbtextcodec.h"
#include "textrows.h"

#include <QTest>
#include <QTextCodec>

namespace {

// Enough Russian prose for a statistical detector to tell the Cyrillic code pages apart.
const QString kRussian
    = QStringLiteral("Однажды весною, в час небывало жаркого заката, в Москве, на Патриарших прудах, появились два "
                     "гражданина. Первый из них, одетый в летнюю серенькую пару, был маленького роста, упитан, лыс, "
                     "свою приличную шляпу пирожком нес в руке, а на хорошо выбритом лице его помещались очки в "
                     "черной роговой оправе. Второй — плечистый, рыжеватый, вихрастый молодой человек в заломленной "
                     "на затылок клетчатой кепке — был в ковбойке, жеваных белых брюках и в черных тапочках.\n");

QByteArray encoded(const char* codec, const QString& text)
{
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    return QTextCodec::codecForName(codec)->fromUnicode(text.constData(), text.size(), &state);
}

} // namespace

class TestFbTextCodec : public QObject {
    Q_OBJECT

private slots:
    void encodingFromProlog_data();
    void encodingFromProlog();
    void detectCodec_data();
    void detectCodec();
    void byteOrderMarkTakesPrecedence();
    void unknownDeclaredEncoding();
    void splitLines_data();
    void splitLines();
    void escapeXmlText();
};

void TestFbTextCodec::encodingFromProlog_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("encoding");

    addTextRows({
        { "double quotes", "<?xml version=\"1.0\" encoding=\"windows-1251\"?>", "windows-1251" },
        { "single quotes", "<?xml version='1.0' encoding='windows-1251'?>", "windows-1251" },
        { "letter case and blanks", "<?XML VERSION=\"1.0\" ENCODING = \"KOI8-R\" ?>", "KOI8-R" },
        { "mismatched quotes", "<?xml version=\"1.0\" encoding=\"koi8-r'?>", "UTF-8" },
        { "none", "<?xml version=\"1.0\"?>", "UTF-8" },
        { "empty", "<?xml version=\"1.0\" encoding=\"\"?>", "UTF-8" },
        { "no prolog", "<FictionBook>", "UTF-8" },
        { "only the declaration counts", "<?xml version=\"1.0\"?><FictionBook><p>encoding=\"koi8-r\"</p>", "UTF-8" },
    });
    QTest::newRow("byte-order mark in front") << QString(QChar(0xFEFF)) + "<?xml encoding=\"utf-8\"?>"
                                              << "utf-8";
}

void TestFbTextCodec::encodingFromProlog()
{
    QFETCH(QString, line);
    QFETCH(QString, encoding);
    QCOMPARE(fb2::encodingFromProlog(line), encoding);
}

void TestFbTextCodec::detectCodec_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("codec");

    QTest::newRow("ASCII is UTF-8") << QByteArray("plain words\n") << QByteArray("UTF-8");
    QTest::newRow("UTF-8 Russian") << kRussian.toUtf8() << QByteArray("UTF-8");
    QTest::newRow("UTF-8 mark") << QByteArray("\xEF\xBB\xBFx") << QByteArray("UTF-8");
    QTest::newRow("UTF-16LE mark") << QByteArray("\xFF\xFEx\0", 4) << QByteArray("UTF-16LE");
    QTest::newRow("UTF-16BE mark") << QByteArray("\xFE\xFF\0x", 4) << QByteArray("UTF-16BE");
    QTest::newRow("cp1251") << encoded("windows-1251", kRussian) << QByteArray("windows-1251");
    QTest::newRow("KOI8-R") << encoded("KOI8-R", kRussian) << QByteArray("KOI8-R");
    QTest::newRow("UTF-16LE Russian without mark") << encoded("UTF-16LE", kRussian) << QByteArray("UTF-16LE");
    QTest::newRow("UTF-16BE English without mark")
        << encoded("UTF-16BE", QStringLiteral("Plain English words.\n")) << QByteArray("UTF-16BE");
}

void TestFbTextCodec::detectCodec()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, codec);
    QTextCodec* detected = fb2::detectCodec(bytes);
    QVERIFY(detected);
    QCOMPARE(detected->mibEnum(), QTextCodec::codecForName(codec)->mibEnum());
}

void TestFbTextCodec::byteOrderMarkTakesPrecedence()
{
    QTextCodec* cp1251 = QTextCodec::codecForName("windows-1251");
    QCOMPARE(fb2::decodeText(QByteArray("\xEF\xBB\xBF") + kRussian.toUtf8(), cp1251), kRussian);
    QCOMPARE(fb2::decodeText(QByteArray("\xFF\xFE") + encoded("UTF-16LE", kRussian), cp1251), kRussian);
    QCOMPARE(fb2::decodeText(encoded("windows-1251", kRussian), cp1251), kRussian);
}

void TestFbTextCodec::unknownDeclaredEncoding()
{
    const QString prolog = QStringLiteral("<?xml version=\"1.0\" encoding=\"x-no-such-codec\"?>\n");
    QCOMPARE(fb2::fb2Codec(encoded("windows-1251", prolog + kRussian))->mibEnum(),
        QTextCodec::codecForName("windows-1251")->mibEnum());
    QCOMPARE(fb2::fb2Codec((prolog + kRussian).toUtf8())->mibEnum(), 106);
    QCOMPARE(fb2::fb2Codec("<?xml version=\"1.0\" encoding='koi8-r'?>")->mibEnum(),
        QTextCodec::codecForName("KOI8-R")->mibEnum());
}

void TestFbTextCodec::splitLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("one line without end") << "a" << QStringList { "a" };
    QTest::newRow("final line end") << "a\nb\n" << QStringList { "a", "b" };
    QTest::newRow("empty middle line") << "a\n\nc" << QStringList { "a", "", "c" };
    QTest::newRow("CRLF") << "a\r\nb\r\n" << QStringList { "a", "b" };
    QTest::newRow("only a line end") << "\n" << QStringList { "" };
}

void TestFbTextCodec::splitLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QCOMPARE(fb2::splitLines(text), lines);
}

void TestFbTextCodec::escapeXmlText()
{
    QCOMPARE(fb2::escapeXmlText(QStringLiteral("a<b>&\"c'")), QStringLiteral("a&lt;b&gt;&amp;&quot;c'"));
    QString controls = QStringLiteral("x\fy\x01z\tw");
    controls += QChar(0xFFFF);
    controls += QChar(0xD800); // unpaired high half
    controls += QStringLiteral("v");
    controls += QChar(0xDC00); // unpaired low half
    QCOMPARE(fb2::escapeXmlText(controls), QStringLiteral("xyz\twv"));
    const QString pair = QString::fromUcs4(U"\U0001F600");
    QCOMPARE(fb2::escapeXmlText(pair), pair);
}

QTEST_GUILESS_MAIN(TestFbTextCodec)
#include "tst_fbtextcodec.moc"
