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

// The fields of a title-info that are set, as "name=value" lines.
QStringList fieldsOf(const fb2::FbTitleInfo& info)
{
    QStringList fields;
    const auto add = [&fields](const char* name, const QString& value) {
        if (!value.isEmpty())
            fields.append(QLatin1String(name) + '=' + value);
    };
    add("title", info.bookTitle);
    add("first", info.author.firstName);
    add("middle", info.author.middleName);
    add("last", info.author.lastName);
    add("contact", info.author.contact);
    add("genres", info.genres.join('|'));
    add("keywords", info.keywords.join('|'));
    add("date", info.date.toString(Qt::ISODate));
    add("lang", info.lang);
    add("src-lang", info.srcLang);
    add("cover-page", info.coverPage.tagName());
    add("cover", info.coverImageRef);
    add("annotation", info.annotation);
    for (const fb2::FbAuthor& translator : info.translators)
        add("translator", QStringList { translator.firstName, translator.lastName, translator.contact }.join('|'));
    return fields;
}

} // namespace

class TestFbDescription : public QObject {
    Q_OBJECT

private slots:
    void fullDescription();
    void titleInfoFields_data();
    void titleInfoFields();
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
    QCOMPARE(fieldsOf(info),
        QStringList({ "title=Tale & Co", "first=Anna", "middle=Maria", "last=Berg", "contact=ab", "genres=sf",
            "keywords=space,|time", "date=2001-02-03", "lang=ru", "src-lang=de", "cover-page=coverpage",
            "cover=cover.jpg", "annotation=One", "translator=Tom|Tran|t@example.org", "translator=Ulla|Ueber|" }));

    const fb2::FbPublishInfo& publish = book.description.publishInfo;
    QCOMPARE(QStringList({ publish.bookName, publish.publisher, publish.city, publish.year }),
        QStringList({ "Printed Tale", "Acme", "Berlin", "1999" }));
    const fb2::FbDocumentInfo& doc = book.description.documentInfo;
    QCOMPARE(QStringList({ doc.author.firstName, doc.author.lastName, doc.programUsed, doc.date.toString(Qt::ISODate),
                 doc.id, doc.version }),
        QStringList({ "Doc", "Maker", "Editor 2", "2010-05-06", "id-42", "1.1" }));

    // The cover page element outlives the document it was read from.
    document = QDomDocument();
    QCOMPARE(info.coverPage.firstChildElement().tagName(), QStringLiteral("image"));
}

void TestFbDescription::titleInfoFields_data()
{
    QTest::addColumn<QString>("titleInfo");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("authors merge, later parts winning")
        << "<author><first-name>Anna</first-name><last-name>Berg</last-name><email>a@b</email></author>"
           "<author><last-name>Cole</last-name><nickname>cc</nickname></author>"
        << QStringList { "first=Anna", "last=Cole", "contact=cc" };
    QTest::newRow("genres; the later keywords replace")
        << "<genre></genre><genre>prose</genre><genre>poetry</genre>"
           "<keywords>one  two,three </keywords><keywords>a b</keywords>"
        << QStringList { "genres=prose|poetry", "keywords=a|b" };
    QTest::newRow("keywords split at blanks")
        << "<keywords>one  two,three </keywords>" << QStringList { "keywords=one|two,three" };
    QTest::newRow("date without value") << "<date>2001</date>" << QStringList();
    QTest::newRow("date out of range") << "<date value=\"2001-13-40\">x</date>" << QStringList();
    QTest::newRow("date") << "<date value=\"1999-12-31\"/>" << QStringList { "date=1999-12-31" };
    QTest::newRow("cover page: its last image")
        << "<coverpage><image l:href=\"#a.jpg\"/>text<!--c--><image xlink:href=\"#b.jpg\"/></coverpage>"
        << QStringList { "cover-page=coverpage", "cover=b.jpg" };
    QTest::newRow("cover page without image")
        << "<coverpage><p>no image</p></coverpage>" << QStringList { "cover-page=coverpage" };
    QTest::newRow("annotation as plain text")
        << "<annotation>\n  <p>First <emphasis>part</emphasis>.</p>\n  <p>Second</p>\n  <empty-line/>\n"
           "  <p>Third &amp; last</p>\n</annotation>"
        << QStringList { "annotation=First part.SecondThird & last" };
    // The last text child counts; an element without text leaves the field as it was.
    QTest::newRow("last text wins") << "<book-title>Old</book-title><book-title> </book-title>"
                                       "<lang>en<!--x-->de</lang><src-lang><b>fr</b></src-lang>"
                                    << QStringList { "title=Old", "lang=de" };
}

void TestFbDescription::titleInfoFields()
{
    QFETCH(QString, titleInfo);
    QFETCH(QStringList, fields);
    QCOMPARE(fieldsOf(bookWithTitleInfo(titleInfo).description.titleInfo), fields);
}

void TestFbDescription::title_data()
{
    QTest::addColumn<QString>("titleInfo");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("title");

    QTest::newRow("book title, untrimmed")
        << "<book-title> Tale </book-title>" << Fb2Builder::section(Fb2Builder::p("x"), "Chapter") << " Tale ";
    QTest::newRow("first section title as plain text")
        << QString() << "<section><title><p> <emphasis>Opening</emphasis> words </p></title></section><section/>"
        << "Opening  words";
    QTest::newRow("neither") << QString() << "<section><p>untitled</p></section>" << QString();
    QTest::newRow("no bodies") << QString() << QString() << QString();
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
    QTest::newRow("none") << QStringList() << QString();
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
