#pragma once

#include <QAbstractTableModel>
#include <QString>

// The translations that ship beside the executable, as a read-only table with one row per language,
// and the run-time language switch. Files are named prefix + "_" + locale + ".qm" in the folder
// "translations" beside the executable; Qt's own translation for the same locale is
// "qt_" + locale + ".qm" in that folder. English is always offered: as the first row found for it,
// or as a built-in row without a file that stands for the untranslated texts.
//
// A locale code handed to translate() is only used when it names one of the rows, so a code read
// from a settings file never reaches the file system on its own.
class KelTranslator : public QAbstractTableModel {
    Q_OBJECT

public:
    struct TranslationInfo {
        QString fileName; // without folder; empty for the built-in English row
        QString localeCode; // e.g. pt_BR
        QString localizedLanguageName;
        QString englishLanguageName;
        QString bcp47Name;
        QString englishCountryName;
        QString localizedCountryName;
        QString countries; // every country using the language, English names joined with ", "
    };

    enum Column {
        FileNameColumn = 0,
        LocaleColumn,
        LocalizedLanguageColumn,
        EnglishLanguageColumn,
        Bcp47Column,
        LocalizedCountryColumn,
        EnglishCountryColumn,
        CountriesColumn,
        ColumnCount
    };

    // folder: where the translation files are; empty means "translations" beside the executable.
    // The rows are read once, here.
    KelTranslator(const QString& filePrefix, QObject* parent = nullptr, const QString& folder = QString());
    ~KelTranslator() override;

    // Switches the interface language to the row with this locale code. True when the language is
    // (or already was) in effect; on failure the previous translation stays installed.
    bool translate(const QString& code, bool force = false);

    // Empty until the first successful translate().
    QString currentLocale() const;
    QString translationsFolder() const;
    QString filePrefix() const;
    QList<TranslationInfo> translations() const;

    // Column 2 of the first row with exactly this locale code; invalid when none.
    QModelIndex indexOfLocale(const QString& code) const;
    // The column language pickers show.
    static int languageNameColumn();
    // The locale code of the first row whose language (first two letters, lower-cased) is
    // languageCode; empty when none.
    QString localeForLanguage(const QString& languageCode) const;
    static QString systemLocaleName();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    void languageChanged(QString langCode);

private:
    class Private;
    Private* d;
};
