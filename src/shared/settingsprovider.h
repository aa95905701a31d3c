#pragma once

#include "checkedsave.h"
#include "enums.h"
#include "kelsettings.h"

#include <QMap>
#include <QMetaType>
#include <QPageSize>
#include <QPrinter>
#include <QString>

// Voice chosen per speech locale: locale name -> voice name.
using LocaleVoiceMap = QMap<QString, QString>;

Q_DECLARE_METATYPE(QPrinter::Orientation)
Q_DECLARE_METATYPE(QPrinter::ColorMode)
Q_DECLARE_METATYPE(QPrinter::PrinterMode)

// Registers the types the settings file stores as variants, with their stream operators.
// Safe to call more than once; the settings object calls it itself before its first read.
void registerSettingsMetaTypes();

// The application's settings in "settings.ini": one typed getter, one setter and one change
// signal per key. Keys of the reading view live in the group "viewer.text", the others at the
// root. A setter writes at once and emits the key's signal only when the value changed; a
// missing or unreadable value gives the key's default.
class SettingsProvider : public KelSettings {
    Q_OBJECT

public:
    // Opens the file and reads it with signals blocked, so the first read emits nothing.
    SettingsProvider(const QString& fileName, QSettings::Format format, QObject* parent = nullptr);
    ~SettingsProvider() override;

    // The application's settings object; null when it is gone or of another class.
    static SettingsProvider* instance();

    void readSettings() override;
    void writeSettings() override;

    bool showFirstStartWizard() const;
    void setShowFirstStartWizard(bool value);

    // Library view: category (format and folder categories included), sort and layout. The sort
    // column is the book model's column number.
    Enums::BookCategory library_category() const;
    void setLibrary_category(Enums::BookCategory value);
    int library_sort_column() const;
    void setLibrary_sort_column(int value);
    Qt::SortOrder library_sort_order() const;
    void setLibrary_sort_order(Qt::SortOrder value);
    Enums::LibraryViewMode library_view_mode() const;
    void setLibrary_view_mode(Enums::LibraryViewMode value);

    // Reading view ("viewer.text"). The font "Original font" means the book's own fonts; the
    // alignment is an Enums::TextAlignment value.
    int column_count() const;
    void setColumn_count(int value);
    QString font_family() const;
    void setFont_family(const QString& value);
    int text_alignment() const;
    void setText_alignment(int value);

    QString import_folder() const;
    void setImport_folder(const QString& value);

    // The last opened book, its page and page count when it was left (-1: none).
    int last_book_id() const;
    void setLast_book_id(int value);
    int last_book_page() const;
    void setLast_book_page(int value);
    int last_book_page_count() const;
    void setLast_book_page_count(int value);

    QString printer_name() const;
    void setPrinter_name(const QString& value);
    int printer_copies_count() const;
    void setPrinter_copies_count(int value);
    // A4 until the print page stores a size; printer_page_size_saved tells whether it did.
    bool printer_page_size_saved() const;
    void setPrinter_page_size_saved(bool value);
    QPageSize::PageSizeId printer_page_size() const;
    void setPrinter_page_size(QPageSize::PageSizeId value);
    QPrinter::Orientation printer_orientation() const;
    void setPrinter_orientation(QPrinter::Orientation value);
    QPrinter::ColorMode printer_color_mode() const;
    void setPrinter_color_mode(QPrinter::ColorMode value);
    QPrinter::PrinterMode printer_mode() const;
    void setPrinter_mode(QPrinter::PrinterMode value);

    // Reading aloud. The locale defaults to the system's.
    QString ttsLocaleName() const;
    void setTtsLocaleName(const QString& value);
    QString ttsVoiceName() const;
    void setTtsVoiceName(const QString& value);
    LocaleVoiceMap ttsLocaleVoiceMap() const;
    void setTtsLocaleVoiceMap(const LocaleVoiceMap& value);
    double ttsVolume() const;
    void setTtsVolume(double value);
    double ttsPitch() const;
    void setTtsPitch(double value);
    double ttsRate() const;
    void setTtsRate(double value);

    // Selection look-ups: the address the percent-encoded selection is appended to. The
    // encyclopedia's is its host and path alone: "https://" and the interface language's code
    // and a dot go before it.
    QString lookup_web_search() const;
    void setLookup_web_search(const QString& value);
    QString lookup_encyclopedia() const;
    void setLookup_encyclopedia(const QString& value);
    QString lookup_translation() const;
    void setLookup_translation(const QString& value);

    // The newest version the update check has offered (its signal is the toolkit's).
    QString updateCheckerShowedVersion() const;
    void setUpdateCheckerShowedVersion(const QString& value);

signals:
    void showFirstStartWizardChanged(bool val);
    void text_alignmentChanged(int val);
    void font_familyChanged(QString val);
    void column_countChanged(int val);
    void import_folderChanged(QString val);
    void library_view_modeChanged(Enums::LibraryViewMode val);
    void library_categoryChanged(Enums::BookCategory val);
    void library_sort_columnChanged(int val);
    void library_sort_orderChanged(Qt::SortOrder val);
    void last_book_idChanged(int val);
    void last_book_pageChanged(int val);
    void last_book_page_countChanged(int val);
    void printer_nameChanged(QString val);
    void printer_copies_countChanged(int val);
    void printer_page_size_savedChanged(bool val);
    void printer_page_sizeChanged(QPageSize::PageSizeId val);
    void printer_orientationChanged(QPrinter::Orientation val);
    void printer_color_modeChanged(QPrinter::ColorMode val);
    void printer_modeChanged(QPrinter::PrinterMode val);
    void ttsLocaleNameChanged(QString val);
    void ttsVoiceNameChanged(QString val);
    void ttsLocaleVoiceMapChanged(LocaleVoiceMap val);
    void ttsVolumeChanged(double val);
    void ttsPitchChanged(double val);
    void ttsRateChanged(double val);
    void lookup_web_searchChanged(QString val);
    void lookup_encyclopediaChanged(QString val);
    void lookup_translationChanged(QString val);
    // After each write of the file: None when it took the values, else why it did not (the values
    // stay in effect for this run only).
    void written(checkedsave::Failure failure);

protected:
    bool event(QEvent* event) override;

private:
    checkedsave::Failure writeFailure() const;

    // Writes toStore under path when the key is missing or the typed values differ; emits the
    // signal only when the value the getter gives changed.
    template <typename T, typename Signal>
    void update(const QString& path, const T& current, const T& value, const QVariant& toStore, Signal signal);
};
