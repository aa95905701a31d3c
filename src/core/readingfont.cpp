#include "readingfont.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QWebSettings>
#include <QtDebug>

namespace readingfont {

namespace {

    enum class Kind { Serif, Sans, Monospace };

    struct Choice {
        const char* name;
        Kind kind;
        // Faces with the same glyph widths, best first.
        QStringList lookAlikes;
    };

    // The offered families in menu order.
    const QList<Choice>& choices()
    {
        static const QList<Choice> list {
            { "Times New Roman", Kind::Serif, { "Liberation Serif", "Tinos", "Nimbus Roman", "TeX Gyre Termes" } },
            { "Arial", Kind::Sans, { "Liberation Sans", "Arimo", "Nimbus Sans", "TeX Gyre Heros" } },
            { "Courier New", Kind::Monospace, { "Liberation Mono", "Cousine", "Nimbus Mono PS", "TeX Gyre Cursor" } },
            { "Courier", Kind::Monospace, { "Nimbus Mono PS", "Liberation Mono", "Cousine", "TeX Gyre Cursor" } },
            { "Georgia", Kind::Serif, { "Gelasio" } },
            { "Tahoma", Kind::Sans, {} },
            { "Verdana", Kind::Sans, {} },
            { "Segoe UI", Kind::Sans, { "Selawik" } },
        };
        return list;
    }

    const Choice* choiceOf(const QString& family)
    {
        for (const Choice& choice : choices()) {
            if (family.compare(QLatin1String(choice.name), Qt::CaseInsensitive) == 0)
                return &choice;
        }
        return nullptr;
    }

    QString genericOf(Kind kind)
    {
        switch (kind) {
        case Kind::Serif:
            return QStringLiteral("serif");
        case Kind::Monospace:
            return QStringLiteral("monospace");
        case Kind::Sans:
            break;
        }
        return QStringLiteral("sans-serif");
    }

    // Common faces of each kind, for when neither the system's match nor a look-alike will do.
    QStringList usualFaces(Kind kind)
    {
        switch (kind) {
        case Kind::Serif:
            return { "DejaVu Serif", "Liberation Serif", "Noto Serif", "FreeSerif" };
        case Kind::Monospace:
            return { "DejaVu Sans Mono", "Liberation Mono", "Noto Sans Mono", "FreeMono" };
        case Kind::Sans:
            break;
        }
        return { "DejaVu Sans", "Liberation Sans", "Noto Sans", "FreeSans" };
    }

    bool engineTakes(const QFontDatabase& fonts, const QString& family)
    {
        // The engine's own test of a CSS family name.
        return !family.isEmpty() && fonts.hasFamily(family);
    }

    // The face the system's font matching gives a name, without the foundry the font database
    // adds to a family that more than one foundry makes.
    QString systemMatch(const QString& name)
    {
        static const QRegularExpression foundry(QStringLiteral("\\s*\\[[^\\]]*\\]$"));
        return QFontInfo(QFont(name)).family().remove(foundry);
    }

    // Whether a face the system matched is of the kind: the system gives some face for any name,
    // also when none of the kind is installed. A serif face is not the one the system draws
    // sans-serif text with, and the other way round.
    bool isOfKind(const QFontDatabase& fonts, const QString& face, Kind kind)
    {
        const bool fixed = fonts.isFixedPitch(face);
        if (kind == Kind::Monospace)
            return fixed;
        const QString other = systemMatch(genericOf(kind == Kind::Serif ? Kind::Sans : Kind::Serif));
        return !fixed && face.compare(other, Qt::CaseInsensitive) != 0;
    }

    QString resolve(const QString& family)
    {
        const QFontDatabase fonts;
        if (engineTakes(fonts, family))
            return family;
        const Choice* choice = choiceOf(family);
        if (!choice)
            return family;
        const QString matched = systemMatch(family);
        if (engineTakes(fonts, matched) && isOfKind(fonts, matched, choice->kind))
            return matched;
        for (const QString& face : choice->lookAlikes) {
            if (engineTakes(fonts, face))
                return face;
        }
        const QString generic = systemMatch(genericOf(choice->kind));
        if (engineTakes(fonts, generic) && isOfKind(fonts, generic, choice->kind))
            return generic;
        for (const QString& face : usualFaces(choice->kind)) {
            if (engineTakes(fonts, face))
                return face;
        }
        qWarning() << "No installed face of the kind of" << family;
        return QString();
    }

} // namespace

QStringList offeredFamilies()
{
    QStringList families;
    for (const Choice& choice : choices()) {
        const QString name = QLatin1String(choice.name);
        if (!installedFamily(name).isEmpty())
            families << name;
    }
    return families;
}

QString installedFamily(const QString& family)
{
    // The font database needs the GUI application; without it nothing is drawn anyway.
    if (isOriginal(family) || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return family;
    // Fonts installed while the program runs are not looked for: one answer per name keeps the
    // reader's page and the page counter's layouts alike.
    static QMutex mutex;
    static QHash<QString, QString> resolved;
    QMutexLocker lock(&mutex);
    const auto found = resolved.constFind(family);
    if (found != resolved.constEnd())
        return found.value();
    const QString face = resolve(family);
    resolved.insert(family, face);
    return face;
}

QString genericFamily(const QString& family)
{
    const Choice* choice = choiceOf(family);
    return choice ? genericOf(choice->kind) : QString();
}

bool isOriginal(const QString& family)
{
    return family.isEmpty() || family.compare(QLatin1String("Original font"), Qt::CaseInsensitive) == 0;
}

void applyStandardFont(QWebSettings* settings, const QString& family)
{
    if (!settings)
        return;
    const QString face = installedFamily(family);
    if (isOriginal(family) || face.isEmpty())
        settings->resetFontFamily(QWebSettings::StandardFont);
    else
        settings->setFontFamily(QWebSettings::StandardFont, face);
}

} // namespace readingfont
