#include "settingsprovider.h"

#include "appdirs.h"
#include "kelapplication.h"

#include <QDataStream>
#include <QEvent>
#include <QFileInfo>
#include <QtDebug>

#include <unistd.h>

namespace {

// Keys with their group: "viewer.text/..." is the same entry as the key inside that group.
const QString kShowFirstStartWizard = QStringLiteral("showFirstStartWizard");
const QString kLibraryCategory = QStringLiteral("library_category");
const QString kLibrarySortColumn = QStringLiteral("library_sort_column");
const QString kLibrarySortOrder = QStringLiteral("library_sort_order");
const QString kLibraryViewMode = QStringLiteral("library_view_mode");
const QString kColumnCount = QStringLiteral("viewer.text/column_count");
const QString kFontFamily = QStringLiteral("viewer.text/font_family");
const QString kTextAlignment = QStringLiteral("viewer.text/text_alignment");
const QString kImportFolder = QStringLiteral("import_folder");
const QString kLastBookId = QStringLiteral("last_book_id");
const QString kLastBookPage = QStringLiteral("last_book_page");
const QString kLastBookPageCount = QStringLiteral("last_book_page_count");
const QString kPrinterName = QStringLiteral("printer_name");
const QString kPrinterCopiesCount = QStringLiteral("printer_copies_count");
const QString kPrinterPageSizeSaved = QStringLiteral("printer_page_size_saved");
const QString kPrinterPageSize = QStringLiteral("printer_page_size");
const QString kPrinterOrientation = QStringLiteral("printer_orientation");
const QString kPrinterColorMode = QStringLiteral("printer_color_mode");
const QString kPrinterMode = QStringLiteral("printer_mode");
const QString kTtsLocaleName = QStringLiteral("ttsLocaleName");
const QString kTtsVoiceName = QStringLiteral("ttsVoiceName");
const QString kTtsLocaleVoiceMap = QStringLiteral("ttsLocaleVoiceMap");
const QString kTtsVolume = QStringLiteral("ttsVolume");
const QString kTtsPitch = QStringLiteral("ttsPitch");
const QString kTtsRate = QStringLiteral("ttsRate");
const QString kLookupWebSearch = QStringLiteral("lookup_web_search");
const QString kLookupEncyclopedia = QStringLiteral("lookup_encyclopedia");
const QString kLookupTranslation = QStringLiteral("lookup_translation");
const QString kUpdateCheckerShowedVersion = QStringLiteral("updateCheckerShowedVersion");

const QString kOriginalFont = QStringLiteral("Original font");

template <typename T> void registerStreamable(const char* name)
{
    qRegisterMetaType<T>(name);
    qRegisterMetaTypeStreamOperators<T>(name);
}

// A stored enum: its own variant type, or a number (a text that is not one gives 0). Values
// outside first..last, which no version wrote, give the default.
template <typename E> E enumValue(const QVariant& stored, E defaultValue, int first, int last)
{
    const int value = stored.userType() == qMetaTypeId<E>() ? int(stored.value<E>()) : stored.toInt();
    return value >= first && value <= last ? E(value) : defaultValue;
}

} // namespace

void registerSettingsMetaTypes()
{
    registerStreamable<LocaleVoiceMap>("LocaleVoiceMap");
    registerStreamable<Enums::LibraryViewMode>("Enums::LibraryViewMode");
    registerStreamable<QPageSize::PageSizeId>("QPageSize::PageSizeId");
    registerStreamable<QPrinter::ColorMode>("QPrinter::ColorMode");
    registerStreamable<QPrinter::PrinterMode>("QPrinter::PrinterMode");
    registerStreamable<QPrinter::Orientation>("QPrinter::Orientation");
    // The other types the change signals carry, for queued connections and signal spies.
    qRegisterMetaType<Qt::SortOrder>("SortOrder");
    qRegisterMetaType<Enums::BookCategory>();
}

SettingsProvider::SettingsProvider(const QString& fileName, QSettings::Format format, QObject* parent)
    : KelSettings(fileName, format, parent)
{
    // Stored enum variants can only be read back once their types are known.
    registerSettingsMetaTypes();
    qDebug() << "First read, block signals";
    const bool wasBlocked = blockSignals(true);
    readSettings();
    blockSignals(wasBlocked);
}

SettingsProvider::~SettingsProvider() = default;

SettingsProvider* SettingsProvider::instance()
{
    KelApplication* app = KelApplication::instance();
    return app ? qobject_cast<SettingsProvider*>(app->settings()) : nullptr;
}

void SettingsProvider::readSettings()
{
    qDebug() << "Begin load app settings from file" << fileName();
    KelSettings::readSettings();
    qDebug() << "End load app settings from file" << fileName();
}

void SettingsProvider::writeSettings()
{
    qDebug() << "Begin write app settings to file";
    KelSettings::writeSettings();
    qDebug() << "End write app settings to file";
}

bool SettingsProvider::event(QEvent* event)
{
    const bool handled = KelSettings::event(event);
    // The changes reach the file when the event loop comes back to this request.
    if (event->type() == QEvent::UpdateRequest) {
        const checkedsave::Failure failure = writeFailure();
        if (failure != checkedsave::Failure::None)
            qWarning() << "The settings file" << fileName() << "was not written:" << int(failure);
        emit written(failure);
    }
    return handled;
}

checkedsave::Failure SettingsProvider::writeFailure() const
{
    // The status keeps its error once set: what refused the write is looked at anew each time.
    if (status() != QSettings::AccessError)
        return checkedsave::Failure::None;
    const checkedsave::Failure folder = checkedsave::classifyFolder(fileName());
    if (folder != checkedsave::Failure::None)
        return folder;
    const QFileInfo file(fileName());
    if (file.exists() && ::access(QFile::encodeName(file.absoluteFilePath()).constData(), W_OK) != 0)
        return checkedsave::Failure::Other;
    return checkedsave::Failure::None;
}

// Typed comparison: QVariant's own finds two equal maps (and other user types) unequal.
template <typename T, typename Signal>
void SettingsProvider::update(
    const QString& path, const T& current, const T& value, const QVariant& toStore, Signal signal)
{
    const bool changed = !(current == value);
    if (!changed && contains(path))
        return;
    setValue(path, toStore);
    if (changed)
        emit(this->*signal)(value);
}

bool SettingsProvider::showFirstStartWizard() const { return value(kShowFirstStartWizard, true).toBool(); }

void SettingsProvider::setShowFirstStartWizard(bool value)
{
    update(kShowFirstStartWizard, showFirstStartWizard(), value, value, &SettingsProvider::showFirstStartWizardChanged);
}

Enums::BookCategory SettingsProvider::library_category() const
{
    return Enums::BookCategory(value(kLibraryCategory, int(Enums::AllBooks)).toInt());
}

void SettingsProvider::setLibrary_category(Enums::BookCategory value)
{
    update(kLibraryCategory, library_category(), value, int(value), &SettingsProvider::library_categoryChanged);
}

int SettingsProvider::library_sort_column() const { return value(kLibrarySortColumn, 2).toInt(); }

void SettingsProvider::setLibrary_sort_column(int value)
{
    update(kLibrarySortColumn, library_sort_column(), value, value, &SettingsProvider::library_sort_columnChanged);
}

Qt::SortOrder SettingsProvider::library_sort_order() const
{
    return enumValue(value(kLibrarySortOrder, int(Qt::DescendingOrder)), Qt::DescendingOrder, Qt::AscendingOrder,
        Qt::DescendingOrder);
}

void SettingsProvider::setLibrary_sort_order(Qt::SortOrder value)
{
    update(kLibrarySortOrder, library_sort_order(), value, int(value), &SettingsProvider::library_sort_orderChanged);
}

Enums::LibraryViewMode SettingsProvider::library_view_mode() const
{
    return enumValue(value(kLibraryViewMode, QVariant::fromValue(Enums::View_Cards)), Enums::View_Cards,
        Enums::View_Table, Enums::View_Cards);
}

void SettingsProvider::setLibrary_view_mode(Enums::LibraryViewMode value)
{
    update(kLibraryViewMode, library_view_mode(), value, QVariant::fromValue(value),
        &SettingsProvider::library_view_modeChanged);
}

int SettingsProvider::column_count() const { return value(kColumnCount, 2).toInt(); }

void SettingsProvider::setColumn_count(int value)
{
    update(kColumnCount, column_count(), value, value, &SettingsProvider::column_countChanged);
}

QString SettingsProvider::font_family() const { return value(kFontFamily, kOriginalFont).toString(); }

void SettingsProvider::setFont_family(const QString& value)
{
    update(kFontFamily, font_family(), value, value, &SettingsProvider::font_familyChanged);
}

int SettingsProvider::text_alignment() const { return value(kTextAlignment, int(Enums::JustifyTextAlign)).toInt(); }

void SettingsProvider::setText_alignment(int value)
{
    update(kTextAlignment, text_alignment(), value, value, &SettingsProvider::text_alignmentChanged);
}

QString SettingsProvider::import_folder() const
{
    // Only a missing key makes (and names) the default folder.
    return contains(kImportFolder) ? value(kImportFolder).toString() : importDir();
}

void SettingsProvider::setImport_folder(const QString& value)
{
    update(kImportFolder, import_folder(), value, value, &SettingsProvider::import_folderChanged);
}

int SettingsProvider::last_book_id() const { return value(kLastBookId, -1).toInt(); }

void SettingsProvider::setLast_book_id(int value)
{
    update(kLastBookId, last_book_id(), value, value, &SettingsProvider::last_book_idChanged);
}

int SettingsProvider::last_book_page() const { return value(kLastBookPage, -1).toInt(); }

void SettingsProvider::setLast_book_page(int value)
{
    update(kLastBookPage, last_book_page(), value, value, &SettingsProvider::last_book_pageChanged);
}

int SettingsProvider::last_book_page_count() const { return value(kLastBookPageCount, -1).toInt(); }

void SettingsProvider::setLast_book_page_count(int value)
{
    update(kLastBookPageCount, last_book_page_count(), value, value, &SettingsProvider::last_book_page_countChanged);
}

QString SettingsProvider::printer_name() const { return value(kPrinterName, QString()).toString(); }

void SettingsProvider::setPrinter_name(const QString& value)
{
    update(kPrinterName, printer_name(), value, value, &SettingsProvider::printer_nameChanged);
}

int SettingsProvider::printer_copies_count() const { return value(kPrinterCopiesCount, 1).toInt(); }

void SettingsProvider::setPrinter_copies_count(int value)
{
    update(kPrinterCopiesCount, printer_copies_count(), value, value, &SettingsProvider::printer_copies_countChanged);
}

bool SettingsProvider::printer_page_size_saved() const { return value(kPrinterPageSizeSaved, false).toBool(); }

void SettingsProvider::setPrinter_page_size_saved(bool value)
{
    update(kPrinterPageSizeSaved, printer_page_size_saved(), value, value,
        &SettingsProvider::printer_page_size_savedChanged);
}

QPageSize::PageSizeId SettingsProvider::printer_page_size() const
{
    return enumValue(value(kPrinterPageSize, QVariant::fromValue(QPageSize::A4)), QPageSize::A4, QPageSize::A4,
        QPageSize::LastPageSize);
}

void SettingsProvider::setPrinter_page_size(QPageSize::PageSizeId value)
{
    update(kPrinterPageSize, printer_page_size(), value, QVariant::fromValue(value),
        &SettingsProvider::printer_page_sizeChanged);
}

QPrinter::Orientation SettingsProvider::printer_orientation() const
{
    return enumValue(value(kPrinterOrientation, QVariant::fromValue(QPrinter::Portrait)), QPrinter::Portrait,
        QPrinter::Portrait, QPrinter::Landscape);
}

void SettingsProvider::setPrinter_orientation(QPrinter::Orientation value)
{
    update(kPrinterOrientation, printer_orientation(), value, QVariant::fromValue(value),
        &SettingsProvider::printer_orientationChanged);
}

QPrinter::ColorMode SettingsProvider::printer_color_mode() const
{
    return enumValue(value(kPrinterColorMode, QVariant::fromValue(QPrinter::Color)), QPrinter::Color,
        QPrinter::GrayScale, QPrinter::Color);
}

void SettingsProvider::setPrinter_color_mode(QPrinter::ColorMode value)
{
    update(kPrinterColorMode, printer_color_mode(), value, QVariant::fromValue(value),
        &SettingsProvider::printer_color_modeChanged);
}

QPrinter::PrinterMode SettingsProvider::printer_mode() const
{
    return enumValue(value(kPrinterMode, QVariant::fromValue(QPrinter::HighResolution)), QPrinter::HighResolution,
        QPrinter::ScreenResolution, QPrinter::HighResolution);
}

void SettingsProvider::setPrinter_mode(QPrinter::PrinterMode value)
{
    update(kPrinterMode, printer_mode(), value, QVariant::fromValue(value), &SettingsProvider::printer_modeChanged);
}

QString SettingsProvider::ttsLocaleName() const { return value(kTtsLocaleName, defaultLocaleName()).toString(); }

void SettingsProvider::setTtsLocaleName(const QString& value)
{
    update(kTtsLocaleName, ttsLocaleName(), value, value, &SettingsProvider::ttsLocaleNameChanged);
}

QString SettingsProvider::ttsVoiceName() const { return value(kTtsVoiceName, QString()).toString(); }

void SettingsProvider::setTtsVoiceName(const QString& value)
{
    update(kTtsVoiceName, ttsVoiceName(), value, value, &SettingsProvider::ttsVoiceNameChanged);
}

LocaleVoiceMap SettingsProvider::ttsLocaleVoiceMap() const
{
    return value(kTtsLocaleVoiceMap, QVariant()).value<LocaleVoiceMap>();
}

void SettingsProvider::setTtsLocaleVoiceMap(const LocaleVoiceMap& value)
{
    update(kTtsLocaleVoiceMap, ttsLocaleVoiceMap(), value, QVariant::fromValue(value),
        &SettingsProvider::ttsLocaleVoiceMapChanged);
}

double SettingsProvider::ttsVolume() const { return value(kTtsVolume, 1.0).toDouble(); }

void SettingsProvider::setTtsVolume(double value)
{
    update(kTtsVolume, ttsVolume(), value, value, &SettingsProvider::ttsVolumeChanged);
}

double SettingsProvider::ttsPitch() const { return value(kTtsPitch, 0.0).toDouble(); }

void SettingsProvider::setTtsPitch(double value)
{
    update(kTtsPitch, ttsPitch(), value, value, &SettingsProvider::ttsPitchChanged);
}

QString SettingsProvider::lookup_web_search() const
{
    return value(kLookupWebSearch, QStringLiteral("https://www.google.com/search?q=")).toString();
}

void SettingsProvider::setLookup_web_search(const QString& value)
{
    update(kLookupWebSearch, lookup_web_search(), value, value, &SettingsProvider::lookup_web_searchChanged);
}

QString SettingsProvider::lookup_encyclopedia() const
{
    return value(kLookupEncyclopedia, QStringLiteral("wikipedia.org/wiki/Special:Search?search=")).toString();
}

void SettingsProvider::setLookup_encyclopedia(const QString& value)
{
    update(kLookupEncyclopedia, lookup_encyclopedia(), value, value, &SettingsProvider::lookup_encyclopediaChanged);
}

QString SettingsProvider::lookup_translation() const
{
    return value(kLookupTranslation, QStringLiteral("https://translate.google.com/?langpair=auto%7Cauto&text="))
        .toString();
}

void SettingsProvider::setLookup_translation(const QString& value)
{
    update(kLookupTranslation, lookup_translation(), value, value, &SettingsProvider::lookup_translationChanged);
}

double SettingsProvider::ttsRate() const { return value(kTtsRate, 0.0).toDouble(); }

void SettingsProvider::setTtsRate(double value)
{
    update(kTtsRate, ttsRate(), value, value, &SettingsProvider::ttsRateChanged);
}

QString SettingsProvider::updateCheckerShowedVersion() const
{
    return value(kUpdateCheckerShowedVersion, QString()).toString();
}

void SettingsProvider::setUpdateCheckerShowedVersion(const QString& value)
{
    update(kUpdateCheckerShowedVersion, updateCheckerShowedVersion(), value, value,
        &KelSettings::updateCheckerShowedVersionChanged);
}
