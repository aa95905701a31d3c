#include "keltranslator.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

#include <memory>

namespace {
const QString kEnglish = QStringLiteral("en");

QString languageOf(const QString& code) { return code.left(2).toLower(); }

const char* const kHeaders[KelTranslator::ColumnCount] = {
    "File name",
    "Locale",
    "Localized language name",
    "English language name",
    "Bcp47",
    "Localized country",
    "English country",
    "Countries",
};
}

class KelTranslator::Private {
public:
    QPointer<KelTranslator> owner;
    QString folder;
    QString prefix;
    QString currentLocale;
    QPointer<QTranslator> appTranslator;
    QPointer<QTranslator> qtTranslator;
    QList<TranslationInfo> rows;

    void reload();
    static TranslationInfo makeTranslationInfo(const QString& code);
    const TranslationInfo* find(const QString& code) const;
    void removeQtTranslation();
    bool useBuiltInTexts(const QString& code);
    void installQtTranslation(const QString& code);
};

KelTranslator::TranslationInfo KelTranslator::Private::makeTranslationInfo(const QString& code)
{
    TranslationInfo info;
    const QLocale locale(code);
    QStringList countries;
    for (const QLocale::Country country : QLocale::countriesForLanguage(locale.language()))
        countries.append(QLocale::countryToString(country));
    info.englishLanguageName = QLocale::languageToString(locale.language());
    info.bcp47Name = locale.bcp47Name();
    info.countries = countries.join(QStringLiteral(", "));
    if (code == kEnglish) {
        info.localeCode = kEnglish;
        info.localizedLanguageName = QStringLiteral("English");
        info.englishCountryName = QStringLiteral("English");
        info.localizedCountryName = QStringLiteral("English");
        return info;
    }
    info.localeCode = locale.name();
    info.localizedLanguageName = locale.nativeLanguageName();
    if (!info.localizedLanguageName.isEmpty())
        info.localizedLanguageName[0] = info.localizedLanguageName.at(0).toUpper();
    info.englishCountryName = QLocale::countryToString(locale.country());
    info.localizedCountryName = locale.nativeCountryName();
    return info;
}

void KelTranslator::Private::reload()
{
    qDebug() << "Begin read available translations. QMPath:" << folder << "AppPrefix:" << prefix;
    owner->beginResetModel();
    rows.clear();
    bool hasEnglish = false;
    const QStringList files = QDir(folder).entryList({ prefix + QStringLiteral("_*.qm") });
    for (const QString& fileName : files) {
        // The prefix may hold "_" itself: only what follows it is the locale code.
        QString code = fileName.left(fileName.lastIndexOf(QLatin1Char('.')));
        code.remove(0, prefix.size() + 1);
        TranslationInfo info = makeTranslationInfo(code);
        info.fileName = fileName;
        if (languageOf(info.localeCode) == kEnglish) {
            rows.prepend(info);
            hasEnglish = true;
        } else {
            rows.append(info);
        }
    }
    if (!hasEnglish)
        rows.prepend(makeTranslationInfo(kEnglish));
    qDebug() << "End read available translations";
    owner->endResetModel();
}

const KelTranslator::TranslationInfo* KelTranslator::Private::find(const QString& code) const
{
    for (const TranslationInfo& info : rows) {
        if (info.localeCode == code)
            return &info;
    }
    return nullptr;
}

void KelTranslator::Private::removeQtTranslation()
{
    if (!qtTranslator)
        return;
    qDebug() << "Remove Current qt translator." << currentLocale;
    QCoreApplication::removeTranslator(qtTranslator);
    delete qtTranslator.data();
}

// The built-in row has no file: choosing it means the texts as written in the code, so both
// translations go. Without this a user who once picked another language could never return to
// English.
bool KelTranslator::Private::useBuiltInTexts(const QString& code)
{
    if (appTranslator) {
        qDebug() << "Remove Current application translator." << currentLocale;
        QCoreApplication::removeTranslator(appTranslator);
        delete appTranslator.data();
    }
    removeQtTranslation();
    qInfo() << "Built-in texts applyed. Locale:" << code;
    return true;
}

void KelTranslator::Private::installQtTranslation(const QString& code)
{
    removeQtTranslation();
    auto* translator = new QTranslator(owner);
    if (translator->load(QStringLiteral("qt_") + code + QStringLiteral(".qm"), folder)
        && QCoreApplication::installTranslator(translator)) {
        qInfo() << "Qt translation applyed. Locale:" << code;
        qtTranslator = translator;
    } else {
        // The application's own translation is what matters; Qt's texts then stay in English.
        delete translator;
    }
}

KelTranslator::KelTranslator(const QString& filePrefix, QObject* parent, const QString& folder)
    : QAbstractTableModel(parent)
    , d(new Private)
{
    setObjectName(QStringLiteral("KelTranslator"));
    d->owner = this;
    d->folder = folder.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/translations") : folder;
    d->prefix = filePrefix;
    qInfo() << "Translations directory:" << d->folder << ", file prefix:" << d->prefix
            << "system locale:" << systemLocaleName();
    d->reload();
}

KelTranslator::~KelTranslator()
{
    delete d;
    d = nullptr;
}

bool KelTranslator::translate(const QString& code, bool force)
{
    if (code.isEmpty()) {
        qWarning() << "Can't translate: Empty language code.";
        return false;
    }
    if (code == d->currentLocale && !force) {
        qWarning() << "Current LocaleName is the same as requested:" << code;
        return true;
    }
    const TranslationInfo* row = d->find(code);
    if (!row) {
        qWarning() << "Can't translate: LocaleName not found:" << code;
        return false;
    }
    // The code is one of the rows, so the names tried are the row's locale names in our folder.
    std::unique_ptr<QTranslator> loaded;
    if (!row->fileName.isEmpty()) {
        loaded.reset(new QTranslator(this));
        if (!loaded->load(QLocale(code), d->prefix, QStringLiteral("_"), d->folder)) {
            qWarning() << "Failed to load app translation:" << code;
            return false;
        }
    }
    // A file without messages (English usually ships as one) cannot be installed: like the built-in
    // row it stands for the texts as written.
    if (!loaded || loaded->isEmpty()) {
        d->useBuiltInTexts(code);
    } else {
        qDebug() << "App translation sucessfully loaded into temporary translator:" << code;
        QPointer<QTranslator> previous = d->appTranslator;
        if (previous) {
            qDebug() << "Remove Current application translator." << d->currentLocale;
            QCoreApplication::removeTranslator(previous);
        }
        if (!QCoreApplication::installTranslator(loaded.get())) {
            qWarning() << "Failed to install translator!";
            if (previous) {
                qDebug() << "Restore previous translation:" << d->currentLocale;
                QCoreApplication::installTranslator(previous);
            }
            return false;
        }
        delete previous.data();
        d->appTranslator = loaded.release();
        qInfo() << "App translation applyed. Locale:" << code;
        d->installQtTranslation(code);
    }
    d->currentLocale = code;
    emit languageChanged(code);
    return true;
}

QString KelTranslator::currentLocale() const { return d->currentLocale; }

QString KelTranslator::translationsFolder() const { return d->folder; }

QString KelTranslator::filePrefix() const { return d->prefix; }

QList<KelTranslator::TranslationInfo> KelTranslator::translations() const { return d->rows; }

QModelIndex KelTranslator::indexOfLocale(const QString& code) const
{
    for (int row = 0; row < d->rows.size(); ++row) {
        if (d->rows.at(row).localeCode == code)
            return index(row, languageNameColumn());
    }
    return QModelIndex();
}

int KelTranslator::languageNameColumn() { return LocalizedLanguageColumn; }

QString KelTranslator::localeForLanguage(const QString& languageCode) const
{
    for (const TranslationInfo& info : d->rows) {
        if (languageOf(info.localeCode) == languageCode)
            return info.localeCode;
    }
    return QString();
}

QString KelTranslator::systemLocaleName() { return QLocale::system().name(); }

int KelTranslator::rowCount(const QModelIndex&) const { return d->rows.size(); }

int KelTranslator::columnCount(const QModelIndex&) const { return ColumnCount; }

QVariant KelTranslator::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= d->rows.size() || index.column() < 0
        || index.column() >= ColumnCount)
        return QVariant();
    const TranslationInfo& info = d->rows.at(index.row());
    if (role == Qt::UserRole) {
        // Only the language column carries the code pickers store.
        return index.column() == languageNameColumn() ? QVariant(info.localeCode) : QVariant::fromValue(QModelIndex());
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return QVariant();
    switch (index.column()) {
    case FileNameColumn:
        return info.fileName;
    case LocaleColumn:
        return info.localeCode;
    case LocalizedLanguageColumn:
        return info.localizedLanguageName;
    case EnglishLanguageColumn:
        return info.englishLanguageName;
    case Bcp47Column:
        return info.bcp47Name;
    case LocalizedCountryColumn:
        return info.localizedCountryName;
    case EnglishCountryColumn:
        return info.englishCountryName;
    default:
        return info.countries;
    }
}

QVariant KelTranslator::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (orientation == Qt::Vertical)
        return QString::number(section + 1);
    if (section < 0 || section >= ColumnCount)
        return QVariant();
    return QString::fromLatin1(kHeaders[section]);
}
