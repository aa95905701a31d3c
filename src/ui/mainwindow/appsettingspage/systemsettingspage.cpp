#include "systemsettingspage.h"

#include "application.h"
#include "import/bookimporter.h"
#include "keltranslator.h"
#include "mainwindow/readingpage/styleselector.h"
#include "metrics/metricsender.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "settingsprovider.h"
#include "styles/kelstyle.h"
#include "ui.h"
#include "widgets/kelbutton.h"
#include "widgets/kelcombobox.h"
#include "widgets/labeled.h"
#include "windows/kelpopupmenu.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QGridLayout>
#include <QVBoxLayout>

namespace {
const char* const kContext = "MainWindow_Settings_System";
const QLatin1String kArchiveSuffix(".olv");

QString translated(const char* text) { return QCoreApplication::translate(kContext, text); }
QString archiveFilter() { return translated("eBook Archive (*.olv)"); }
} // namespace

class SystemSettingsPage::Private {
public:
    LabeledComboBox* language = nullptr;
    StyleSelector* style = nullptr;
    KelButton* updateCheck = nullptr;
    KelButton* analytics = nullptr;
    LabeledButton* libraryPath = nullptr;
    Labeled<QWidget>* libraryActions = nullptr;
    KelButton* exportButton = nullptr;
    KelButton* importButton = nullptr;
    KelButton* clearButton = nullptr;
};

SystemSettingsPage::SystemSettingsPage(QWidget* parent)
    : AbstractSettingsPage(1, parent)
    , d(new Private)
{
    d->language = new LabeledComboBox(column(0));
    d->language->setObjectName(QStringLiteral("Languages"));
    d->style = new StyleSelector(column(0));
    d->updateCheck = new KelButton(1005, column(0));
    d->analytics = new KelButton(1005, column(0));
    d->libraryPath = new LabeledButton(1020, QString(), column(1));
    d->libraryPath->setObjectName(QStringLiteral("LibraryPath"));
    d->libraryActions = new Labeled<QWidget>(column(1));
    d->libraryActions->setObjectName(QStringLiteral("LibraryActions"));

    columnLayout(0)->addWidget(d->language, 0);
    columnLayout(0)->addWidget(d->style, 0);
    columnLayout(0)->addSpacing(8);
    columnLayout(0)->addWidget(d->updateCheck, 0);
    columnLayout(0)->addWidget(d->analytics, 0);
    columnLayout(0)->addStretch();
    columnLayout(1)->addWidget(d->libraryPath, 0);
    columnLayout(1)->addWidget(d->libraryActions, 0);
    columnLayout(1)->addStretch();
    column(0)->setMinimumWidth(kelStyle()->metric(1001));
    column(1)->setMinimumWidth(kelStyle()->metric(1001));
    pageLayout()->addStretch(1);

    KelApplication* app = KelApplication::instance();
    KelSettings* kelSettings = app ? app->settings() : nullptr;
    SettingsProvider* settings = SettingsProvider::instance();

    KelComboBox* languages = d->language->editor();
    if (KelTranslator* translator = app ? app->translator() : nullptr) {
        languages->setModel(translator, KelTranslator::languageNameColumn(), KelComboBox::ClearCurrent);
        languages->popupMenu()->enableScrolling(2, 38);
        languages->popupMenu()->setMaximumHeight(600);
        if (kelSettings)
            languages->setCurrentModelIndex(translator->indexOfLocale(kelSettings->localeName()));
        if (kelSettings) {
            connect(kelSettings, &KelSettings::localeNameChanged, this, [languages, translator](const QString& locale) {
                languages->setCurrentModelIndex(translator->indexOfLocale(locale));
            });
        }
        connect(languages, &KelComboBox::currentDataChanged, this, &SystemSettingsPage::onLanguageChosen);
    }

    KelButton* pathButton = d->libraryPath->editor();
    if (settings) {
        pathButton->setText(QDir::toNativeSeparators(settings->import_folder()));
        connect(settings, &SettingsProvider::import_folderChanged, pathButton,
            [pathButton](const QString& path) { pathButton->setText(QDir::toNativeSeparators(path)); });
    }
    connect(pathButton, &KelButton::clicked, this, &SystemSettingsPage::chooseLibraryFolder);

    auto* actions = new QWidget(d->libraryActions);
    auto* grid = new QGridLayout(actions);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(12);
    d->exportButton = new KelButton(1009, QStringLiteral(":/svg/export.svg"), actions);
    d->importButton = new KelButton(1009, QStringLiteral(":/svg/import-arrow.svg"), actions);
    d->clearButton = new KelButton(1007, QStringLiteral(":/svg/trash.svg"), actions);
    grid->addWidget(d->exportButton, 0, 0);
    grid->addWidget(d->importButton, 0, 1);
    grid->addWidget(d->clearButton, 1, 0, 1, 2);
    d->libraryActions->setEditor(actions);
    connect(d->exportButton, &KelButton::clicked, this, &SystemSettingsPage::exportLibrary);
    connect(d->importButton, &KelButton::clicked, this, &SystemSettingsPage::importLibrary);
    connect(d->clearButton, &KelButton::clicked, this, &SystemSettingsPage::clearLibrary);

    d->updateCheck->setCheckable(true);
    d->analytics->setCheckable(true);
    d->updateCheck->setCheckedSilently(kelSettings ? kelSettings->updateCheckerEnabled() : true);
    d->analytics->setCheckedSilently(MetricSender::isEnabled());
    connect(d->updateCheck, &KelButton::toggled, this, [](bool on) {
        KelApplication* app = KelApplication::instance();
        if (app && app->settings())
            app->settings()->setUpdateCheckerEnabled(on);
    });
    connect(d->analytics, &KelButton::toggled, this, [](bool on) {
        if (Application* app = Application::instance())
            app->setSendMetrics(on);
    });
    setObjectName(QStringLiteral("System"));
}

SystemSettingsPage::~SystemSettingsPage()
{
    delete d;
    d = nullptr;
}

QString SystemSettingsPage::title() const { return translated("System"); }

void SystemSettingsPage::retranslateUi()
{
    d->language->label()->setText(settingsCaption(kContext, "Language:"));
    d->style->label()->setText(settingsCaption(kContext, "Theme:"));
    d->style->translateUi();
    d->updateCheck->setText(settingsCaption(kContext, "Check for updates automatically:"));
    d->analytics->setText(settingsCaption(kContext, "Send anonymous analytics:"));
    d->libraryPath->label()->setText(settingsCaption(kContext, "Library path"));
    d->libraryActions->label()->setText(settingsCaption(kContext, "Manage library"));
    d->exportButton->setText(translated("Export"));
    d->importButton->setText(translated("Import"));
    d->clearButton->setText(translated("Clear library"));
}

void SystemSettingsPage::onLanguageChosen()
{
    KelApplication* app = KelApplication::instance();
    KelSettings* settings = app ? app->settings() : nullptr;
    if (!settings)
        return;
    const QString saved = settings->localeName();
    const QString previousLanguage = saved.left(2);
    const QModelIndex row = d->language->editor()->currentModelIndex();
    const QString locale = row.isValid() ? row.data(Qt::UserRole).toString() : QString();
    if (locale != saved)
        settings->setLocaleName(locale);
    MetricSender::addMetric(QStringLiteral("chlan"), locale.left(2), previousLanguage);
}

void SystemSettingsPage::chooseLibraryFolder()
{
    SettingsProvider* settings = SettingsProvider::instance();
    KelUi* ui = KelUi::instance();
    if (!settings || !ui)
        return;
    const QString current = settings->import_folder();
    const QString chosen = ui->getExistingDirectory(translated("Select library folder"), current);
    if (chosen.isEmpty() || chosen == current)
        return;
    qInfo() << "Change import path from:" << current << "to:" << chosen;
    settings->setImport_folder(chosen);
}

QString SystemSettingsPage::archiveFileName(const QString& chosen)
{
    // The save dialog may hand back a bare name, which the import filter would then hide.
    if (chosen.isEmpty() || chosen.endsWith(kArchiveSuffix, Qt::CaseInsensitive))
        return chosen;
    return chosen + kArchiveSuffix;
}

void SystemSettingsPage::exportLibrary()
{
    KelUi* ui = KelUi::instance();
    if (!ui)
        return;
    const QString chosen = ui->getSaveFileName(translated("Export library to archive"), archiveFilter());
    if (chosen.isEmpty())
        return;
    bookimporter::instance()->exportToArchive(
        archiveFileName(chosen), BookProvider::instance()->allBooksWithFolderTitle());
}

void SystemSettingsPage::importLibrary()
{
    KelUi* ui = KelUi::instance();
    if (!ui)
        return;
    const QStringList chosen = ui->getOpenFileNames(translated("Import books from archive"), archiveFilter());
    if (chosen.isEmpty())
        return;
    bookimporter::instance()->importFromArchive(chosen.first());
}

void SystemSettingsPage::clearLibrary()
{
    Ui* ui = Ui::instance();
    Application* app = Application::instance();
    // The books the person was asked about: a book handed over while the question is open stays.
    const int lastId = app && app->bookModel() ? app->bookModel()->lastId() : 0;
    if (!ui || !ui->askClearLibrary())
        return;
    if (!app || !app->bookModel()) {
        qWarning() << "No library to clear";
        return;
    }
    app->bookModel()->clearLibrary(lastId);
}

LabeledComboBox* SystemSettingsPage::languageBox() const { return d->language; }

StyleSelector* SystemSettingsPage::styleSelector() const { return d->style; }

KelButton* SystemSettingsPage::updateCheckSwitch() const { return d->updateCheck; }

KelButton* SystemSettingsPage::analyticsSwitch() const { return d->analytics; }

LabeledButton* SystemSettingsPage::libraryPathBox() const { return d->libraryPath; }

KelButton* SystemSettingsPage::exportButton() const { return d->exportButton; }

KelButton* SystemSettingsPage::importButton() const { return d->importButton; }

KelButton* SystemSettingsPage::clearButton() const { return d->clearButton; }
