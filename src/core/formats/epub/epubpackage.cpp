#include "epubpackage.h"

#include <QHash>

namespace epub {

int metadataKind(const QString& name)
{
    // Built once; the initialisation of a function-local static is thread-safe.
    static const QHash<QString, int> kinds = {
        { QStringLiteral("dc:identifier"), MetaIdentifier },
        { QStringLiteral("dc:title"), MetaTitle },
        { QStringLiteral("dc:creator"), MetaCreator },
        { QStringLiteral("dc:contributor"), MetaContributor },
        { QStringLiteral("dc:subject"), MetaSubject },
        { QStringLiteral("dc:publisher"), MetaPublisher },
        { QStringLiteral("dc:description"), MetaDescription },
        { QStringLiteral("dc:date"), MetaDate },
        { QStringLiteral("dc:type"), MetaType },
        { QStringLiteral("dc:format"), MetaFormat },
        { QStringLiteral("dc:source"), MetaSource },
        { QStringLiteral("dc:language"), MetaLanguage },
        { QStringLiteral("dc:coverage"), MetaCoverage },
        { QStringLiteral("dc:rights"), MetaRights },
        { QStringLiteral("cover"), MetaCover },
        { QStringLiteral("generator"), MetaGenerator },
    };
    return kinds.value(name, MetaIdentifier);
}

QString EpubPackage::title() const { return titles.value(0); }

QString EpubPackage::author() const { return creators.value(0); }

void EpubPackage::setValue(int kind, const QVariant& value)
{
    QStringList* list = nullptr;
    switch (kind) {
    case MetaIdentifier:
        list = &identifiers;
        break;
    case MetaTitle:
        list = &titles;
        break;
    case MetaCreator:
        list = &creators;
        break;
    case MetaContributor:
        list = &contributors;
        break;
    case MetaSubject:
        list = &subjects;
        break;
    case MetaPublisher:
        list = &publishers;
        break;
    case MetaDescription:
        list = &descriptions;
        break;
    case MetaType:
        list = &types;
        break;
    case MetaFormat:
        list = &formats;
        break;
    case MetaSource:
        list = &sources;
        break;
    case MetaLanguage:
        list = &languages;
        break;
    case MetaCoverage:
    case MetaCover:
        list = &coverages;
        break;
    case MetaRights:
        list = &rights;
        break;
    default:
        break;
    }
    if (list)
        list->append(value.toString());
}

} // namespace epub
