#include "epubbuilder.h"
#include "fb2builder.h"
#include "fbtesthelpers.h"
#include "formats/fb2/fbbook.h"

#include <QTest>

using fb2::FbBook;

namespace {

// A book read from a document whose description is the given XML, with an optional body.
FbBook bookWith(const QString& descriptionXml, const QString& bodyXml = QString())
{
    Fb2Builder builder;
    builder.setDescriptionXml(descriptionXml);
    if (!bodyXml.isNull())
        builder.addBody(bodyXml);
    QDomDocument document;
    FbBook book;
    if (!fbParse(builder.xml(), document) || !book.readDocument(document))
        qWarning() << "The description did not read";
    return book;
}

FbBook bookWithTitleInfo(const QString& titleInfoXml)
{
    return bookWith(QStringLiteral("<description><title-info>%1</title-info></description>").arg(titleInfoXml));
}

} // namespace

class TestFbDescription : public QObject {
    Q_OBJECT

private slots:
    void fullDescription();
    void authorsMerge();
    void genresAndKeywords();
    void dates();
    void coverPage();
    void annotationText();
    void elementTextLastWins();
    void title_data();
    void title();
    void coverImage_data();
    void coverImage();
    void authorName();
};

void TestFbDescription::fullDescription()
{
    Fb2Builder builder;
    builder.setBookTitle("Tale & Co");
    builder.addGenre("sf");
    builder.addAuthor({ "Anna", "Maria", "Berg", "ab", QString() });
    builder.setAnnotationXml("<p>One</p>");
    builder.setKeywords("space, time");
    builder.setDate("2001-02-03", "Feb 2001");
    builder.setLang("ru");
    builder.setSrcLang("de");
    builder.setCoverImages({ "cover.jpg" });
    builder.addTranslator({ "Tom", QString(), "Tran", QString(), "t@example.org" });
    builder.addTranslator({ "Ulla", QString(), "Ueber", QString(), QString() });
    builder.setPublishInfo("Printed Tale", "Acme", "Berlin", "1999");
    builder.setDocumentInfo(
        { "Doc", QString(), "Maker", QString(), QString() }, "Editor 2", "2010-05-06", "id-42", "1.1");
    builder.addTitleInfoXml("<sequence name=\"S\" number=\"1\"/>");
    builder.addBody(Fb2Builder::section(Fb2Builder::p("x")));
    QDomDocument document;
    QVERIFY(fbParse(builder.xml(), document));
    FbBook book;
    QVERIFY(book.readDocument(document));

    const fb2::FbTitleInfo& info = book.description.titleInfo;
    QCOMPARE(info.bookTitle, QStringLiteral("Tale & Co"));
    QCOMPARE(info.genres, QStringList({ "sf" }));
    QCOMPARE(info.author.firstName, QStringLiteral("Anna"));
    QCOMPARE(info.author.middleName, QStringLiteral("Maria"));
    QCOMPARE(info.author.lastName, QStringLiteral("Berg"));
    QCOMPARE(info.author.contact, QStringLiteral("ab"));
    QCOMPARE(info.annotation, QStringLiteral("One"));
    QCOMPARE(info.keywords, QStringList({ "space,", "time" }));
    QCOMPARE(info.date, QDate(2001, 2, 3));
    QCOMPARE(info.lang, QStringLiteral("ru"));
    QCOMPARE(info.srcLang, QStringLiteral("de"));
    QCOMPARE(info.coverImageRef, QStringLiteral("cover.jpg"));
    QCOMPARE(info.coverPage.tagName(), QStringLiteral("coverpage"));
    QCOMPARE(info.translators.size(), 2);
    QCOMPARE(info.translators[0].lastName, QStringLiteral("Tran"));
    QCOMPARE(info.translators[0].contact, QStringLiteral("t@example.org"));
    QCOMPARE(info.translators[1].firstName, QStringLiteral("Ulla"));

    const fb2::FbPublishInfo& publish = book.description.publishInfo;
    QCOMPARE(publish.bookName, QStringLiteral("Printed Tale"));
    QCOMPARE(publish.publisher, QStringLiteral("Acme"));
    QCOMPARE(publish.city, QStringLiteral("Berlin"));
    QCOMPARE(publish.year, QStringLiteral("1999"));

    const fb2::FbDocumentInfo& doc = book.description.documentInfo;
    QCOMPARE(doc.author.firstName, QStringLiteral("Doc"));
    QCOMPARE(doc.author.lastName, QStringLiteral("Maker"));
    QCOMPARE(doc.programUsed, QStringLiteral("Editor 2"));
    QCOMPARE(doc.date, QDate(2010, 5, 6));
    QCOMPARE(doc.id, QStringLiteral("id-42"));
    QCOMPARE(doc.version, QStringLiteral("1.1"));

    // The cover page element outlives the document it was read from.
    document = QDomDocument();
    QCOMPARE(info.coverPage.firstChildElement().tagName(), QStringLiteral("image"));
}

void TestFbDescription::authorsMerge()
{
    const FbBook book = bookWithTitleInfo(
        "<author><first-name>Anna</first-name><last-name>Berg</last-name><email>a@b</email></author>"
        "<author><last-name>Cole</last-name><nickname>cc</nickname></author>");
    const fb2::FbAuthor& author = book.description.titleInfo.author;
    QCOMPARE(author.firstName, QStringLiteral("Anna"));
    QCOMPARE(author.lastName, QStringLiteral("Cole"));
    QVERIFY(author.middleName.isNull());
    QCOMPARE(author.contact, QStringLiteral("cc"));
}

void TestFbDescription::genresAndKeywords()
{
    const FbBook book = bookWithTitleInfo("<genre></genre><genre>prose</genre><genre>poetry</genre>"
                                          "<keywords>one  two,three </keywords><keywords>a b</keywords>");
    QCOMPARE(book.description.titleInfo.genres, QStringList({ "prose", "poetry" }));
    QCOMPARE(book.description.titleInfo.keywords, QStringList({ "a", "b" })); // the later element replaces

    const FbBook single = bookWithTitleInfo("<keywords>one  two,three </keywords>");
    QCOMPARE(single.description.titleInfo.keywords, QStringList({ "one", "two,three" }));
}

void TestFbDescription::dates()
{
    QVERIFY(bookWithTitleInfo("<date>2001</date>").description.titleInfo.date.isNull());
    QVERIFY(!bookWithTitleInfo("<date value=\"2001-13-40\">x</date>").description.titleInfo.date.isValid());
    QCOMPARE(bookWithTitleInfo("<date value=\"1999-12-31\"/>").description.titleInfo.date, QDate(1999, 12, 31));
}

void TestFbDescription::coverPage()
{
    const FbBook two = bookWithTitleInfo("<coverpage><image l:href=\"#a.jpg\"/>text<!--c-->"
                                         "<image xlink:href=\"#b.jpg\"/></coverpage>");
    QCOMPARE(two.description.titleInfo.coverImageRef, QStringLiteral("b.jpg"));

    const FbBook none = bookWithTitleInfo("<coverpage><p>no image</p></coverpage>");
    QVERIFY(none.description.titleInfo.coverImageRef.isEmpty());
    QCOMPARE(none.description.titleInfo.coverPage.tagName(), QStringLiteral("coverpage"));

    QVERIFY(bookWithTitleInfo(QString()).description.titleInfo.coverPage.isNull());
}

void TestFbDescription::annotationText()
{
    const FbBook book = bookWithTitleInfo("<annotation>\n  <p>First <emphasis>part</emphasis>.</p>\n"
                                          "  <p>Second</p>\n  <empty-line/>\n  <p>Third &amp; last</p>\n</annotation>");
    QCOMPARE(book.description.titleInfo.annotation, QStringLiteral("First part.SecondThird & last"));
}

void TestFbDescription::elementTextLastWins()
{
    // The last text child counts; an element without text leaves the field as it was.
    const FbBook book = bookWithTitleInfo("<book-title>Old</book-title><book-title> </book-title>"
                                          "<lang>en<!--x-->de</lang><src-lang><b>fr</b></src-lang>");
    QCOMPARE(book.description.titleInfo.bookTitle, QStringLiteral("Old"));
    QCOMPARE(book.description.titleInfo.lang, QStringLiteral("de"));
    QVERIFY(book.description.titleInfo.srcLang.isNull());
}

void TestFbDescription::title_data()
{
    QTest::addColumn<QString>("titleInfo");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("title");

    QTest::newRow("book title, untrimmed")
        << "<book-title> Tale </book-title>" << Fb2Builder::section(Fb2Builder::p("x"), "Chapter") << " Tale ";
    QTest::newRow("first section title as plain text")
        << ""
        << "<section><title><p> <emphasis>Opening</emphasis> words </p></title></section><section/>"
        << "Opening  words";
    QTest::newRow("neither") << ""
                             << "<section><p>untitled</p></section>"
                             << "";
    QTest::newRow("no bodies") << "" << QString() << "";
}

void TestFbDescription::title()
{
    QFETCH(QString, titleInfo);
    QFETCH(QString, body);
    QFETCH(QString, title);
    const FbBook book
        = bookWith(QStringLiteral("<description><title-info>%1</title-info></description>").arg(titleInfo), body);
    QCOMPARE(book.title(), title);
}

void TestFbDescription::coverImage_data()
{
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no id holds lower-case cover") << QStringList { "xCover.png", "pic.png" } << "pic.png";
    QTest::newRow("my-cover") << QStringList { "a.png", "my-cover.jpg" } << "my-cover.jpg";
    QTest::newRow("first of several covers") << QStringList { "z-cover.png", "b-cover.png" } << "b-cover.png";
    QTest::newRow("none") << QStringList() << "";
}

void TestFbDescription::coverImage()
{
    QFETCH(QStringList, ids);
    QFETCH(QString, expected);
    FbBook book;
    int width = 1;
    for (const QString& id : ids) {
        QImage image(width++, 1, QImage::Format_RGB32);
        image.setText(QStringLiteral("id"), id);
        book.binaries.insert(id, image);
    }
    const QImage cover = book.coverImage();
    QCOMPARE(cover.isNull(), expected.isEmpty());
    if (!expected.isEmpty())
        QCOMPARE(cover.text(QStringLiteral("id")), expected);
}

void TestFbDescription::authorName()
{
    FbBook book;
    QCOMPARE(book.authorName(), QStringLiteral("  "));
    book.description.titleInfo.author.firstName = QStringLiteral("Anna");
    book.description.titleInfo.author.lastName = QStringLiteral("Berg %1");
    QCOMPARE(book.authorName(), QStringLiteral("Berg %1 Anna "));
}

QTEST_GUILESS_MAIN(TestFbDescription)
#include "tst_fbdescription.moc"
