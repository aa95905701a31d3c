#include "documenttype.h"

#include <QMimeDatabase>

namespace documenttype {

namespace {

    QMimeType databaseType(const QString& fileName)
    {
        static const QMimeDatabase types;
        return types.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    }

    // The types the view makes an XML document of and shows as a page; another XML type it
    // hands on as content it does not show.
    bool shownAsXml(const QByteArray& type)
    {
        static const QByteArrayList types { "application/xhtml+xml", "image/svg+xml", "application/xml", "text/xml",
            "text/xsl", "application/rss+xml", "application/atom+xml" };
        return types.contains(type);
    }

} // namespace

QByteArray viewType(const QString& fileName)
{
    // The names the view decides before it asks the MIME database, which may say otherwise.
    static const struct {
        QLatin1String suffix;
        const char* type;
    } own[] = { { QLatin1String(".htm"), "text/html" }, { QLatin1String(".html"), "text/html" },
        { QLatin1String(".js"), "application/javascript" }, { QLatin1String(".mht"), "application/x-mimearchive" },
        { QLatin1String(".mhtml"), "application/x-mimearchive" }, { QLatin1String(".svg"), "image/svg+xml" },
        { QLatin1String(".text"), "text/plain" }, { QLatin1String(".txt"), "text/plain" },
        { QLatin1String(".wmlc"), "application/vnd.wap.wmlc" }, { QLatin1String(".xht"), "application/xhtml+xml" },
        { QLatin1String(".xhtml"), "application/xhtml+xml" }, { QLatin1String(".xsl"), "text/xsl" } };
    for (const auto& entry : own) {
        if (fileName.endsWith(entry.suffix, Qt::CaseInsensitive))
            return entry.type;
    }
    const QMimeType type = databaseType(fileName);
    return type.isValid() && !type.isDefault() ? type.name().toLatin1() : QByteArray();
}

QByteArray servedType(const QString& fileName)
{
    const QByteArray type = viewType(fileName);
    if (type == "text/html" || shownAsXml(type))
        return type;
    if (!type.isEmpty() && databaseType(fileName).inherits(QStringLiteral("application/xml")))
        return "application/xml";
    return "text/html";
}

bool readsAsXml(const QString& fileName) { return servedType(fileName) != "text/html"; }

bool isDocument(const QString& fileName)
{
    return readsAsXml(fileName) || viewType(fileName) == "text/html"
        || databaseType(fileName).inherits(QStringLiteral("text/html"))
        || fileName.endsWith(QLatin1String(".shtml"), Qt::CaseInsensitive);
}

} // namespace documenttype
