#include "servicemode/servicepages.h"

#include "application.h"
#include "dialogs/bookpropertiesdialog.h"
#include "layouts/kelflowlayout.h"
#include "models/bookmodel.h"
#include "models/booksortfiltermodel.h"
#include "models/foldermodel.h"
#include "styles/kelstyle.h"
#include "styles/kelstylemanager.h"
#include "ui.h"
#include "widgets/kelbutton.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "widgets/kelframe.h"
#include "widgets/keliconlabel.h"
#include "widgets/kellabel.h"
#include "widgets/kelslider.h"
#include "widgets/keltabwidget.h"

#include <QBoxLayout>
#include <QDebug>
#include <QTableView>

namespace {

Ui* ui() { return Ui::instance(); }

void runBookProperties()
{
    Application* app = Application::instance();
    BookModel* books = app ? app->bookModel() : nullptr;
    const QModelIndex first = books ? books->index(0, 0) : QModelIndex();
    // An empty library has no row 0: there is no book to show.
    if (!first.isValid()) {
        qInfo() << "No book in the library for the properties dialog";
        return;
    }
    BookPropertiesDialog dialog(first, ui() ? ui()->mainWindow() : nullptr);
    dialog.exec();
}

KelTabWidget* createTabPage(const QString& name)
{
    auto* tabs = new KelTabWidget(Qt::TopEdge, 1038);
    tabs->setObjectName(name);
    tabs->tabsContainer()->setContentsMargins(0, 0, 0, 0);
    return tabs;
}

void addTab(KelTabWidget* tabs, QWidget* page, const QString& text)
{
    const int index = tabs->count();
    tabs->insertTab(index, page);
    tabs->setTabText(index, text);
}

} // namespace

ServicePage_Dialogs::ServicePage_Dialogs(QWidget* parent)
    : KelServicePage_Dialogs(parent)
{
    addFlowRow(QStringLiteral(" "));
    using Action = std::function<void()>;
    const QList<QPair<QString, QList<QPair<QString, Action>>>> rows {
        { QStringLiteral("Info:"),
            {
                { QStringLiteral("Book already exists"),
                    [] { ui()->showBookExists(QStringLiteral("filename.epub")); } },
                { QStringLiteral("2 books added"), [] { ui()->showBooksAdded(2); } },
                { QStringLiteral("5 books added"), [] { ui()->showBooksAdded(5); } },
                { QStringLiteral("1 book impotrted"), [] { ui()->showBooksImported(1); } },
                { QStringLiteral("2 books impotrted"), [] { ui()->showBooksImported(2); } },
                { QStringLiteral("5 books impotrted"), [] { ui()->showBooksImported(5); } },
                { QStringLiteral("1 book exported"), [] { ui()->showBooksExported(1); } },
                { QStringLiteral("2 books exported"), [] { ui()->showBooksExported(2); } },
                { QStringLiteral("5 books exported"), [] { ui()->showBooksExported(5); } },
            } },
        { QStringLiteral("Questions:"),
            {
                { QStringLiteral("Open external link"), [] { ui()->askOpenExternalLink(); } },
                { QStringLiteral("Remove category (user folder)"), [] { ui()->askDeleteCategory(); } },
                { QStringLiteral("Read book after adding"), [] { ui()->showBookAdded(); } },
                { QStringLiteral("Move all to trash"), [] { ui()->askClearLibrary(); } },
                { QStringLiteral("Remove from trash"),
                    [] { ui()->askDeleteBookFromTrash(QStringLiteral("Some title")); } },
                { QStringLiteral("Clear trash"), [] { ui()->askEmptyTrash(); } },
                { QStringLiteral("Password (946)"),
                    [] {
                        if (ui()->askPassword(QStringLiteral("filename.pdf"), &ServicePage_Dialogs::isDemoPassword))
                            ui()->messageBox(QStringLiteral("Unlocked!"));
                    } },
            } },
        { QStringLiteral("Errors:"),
            {
                { QStringLiteral("Book file not found"),
                    [] { ui()->showBookNotFound(QStringLiteral("filename.epub")); } },
                { QStringLiteral("Book damaged"), [] { ui()->showBookDamaged(); } },
                { QStringLiteral("Book is DRM protected"), [] { ui()->showBookProtected(); } },
                { QStringLiteral("Printer lost"),
                    [] { ui()->showPrinterDisconnected(QStringLiteral("Some printer name")); } },
            } },
        { QStringLiteral("Dialogs:"), { { QStringLiteral("Book properties"), &runBookProperties } } },
    };
    for (const auto& row : rows) {
        KelFlowLayout* flow = addFlowRow(row.first);
        for (const auto& button : row.second) {
            const Action action = button.second;
            addButton(flow, button.first, [action] {
                if (ui())
                    action();
            });
        }
    }
}

bool ServicePage_Dialogs::isDemoPassword(const QString& text) { return text == QLatin1String("946"); }

ServicePage_Style::ServicePage_Style(KelStyle* style, QWidget* parent)
    : KelServicePage_Style(style, parent)
{
    setObjectName(style->id());
    buildPage();
}

void ServicePage_Style::addTextColors()
{
    KelFlowLayout* flow = addFlowRow(QStringLiteral("Text colors:"));
    const QList<QPair<const char*, int>> roles {
        { "CL_Text_Dark", 16 },
        { "CL_Text_Light", 17 },
        { "CL_Text_Link", 18 },
        { "CL_Text_Error", 19 },
        { "CL_Accent", 0 },
    };
    for (const auto& role : roles)
        flow->addWidget(createColorNameLabel(QLatin1String(role.first), style->color(role.second)));
    flow->addWidget(createColorNameLabel(QString(), QColor(0x10, 0xC3, 0x58)));
    flow->addWidget(createColorLabel(
        QStringLiteral("Depends on style->isDarkTheme(): CL_Text_Light or CL_Text_Dark"), style->defaultTextColor()));
    flow->addWidget(
        createColorLabel(QStringLiteral("Semitransparent DefaultTextColor"), style->defaultSecondTextColor()));
}

void ServicePage_Style::addFillColors()
{
    KelFlowLayout* flow = addFlowRow(QStringLiteral("Fill colors:"));
    const QList<QPair<const char*, QColor>> fills {
        { "CL_Window_Base", QColor(Qt::transparent) },
        { "CL_Dialog_Base", style->color(6) },
        { "CL_PopupMenu_Base", style->color(9) },
        { "CL_Button_Push_Base", style->color(21) },
        { "CL_Accent", style->color(0) },
    };
    for (const auto& fill : fills) {
        const QColor shown = fill.second.alpha() ? fill.second : style->color(2);
        flow->addWidget(createColorSwatch(QLatin1String(fill.first), fill.second, style->textColorFor(shown)));
    }
}

void ServicePage_Style::addToolButtonRow(
    const QString& caption, int widgetType, const QString& clickIcon, const QString& checkIcon, bool twoIcons)
{
    KelFlowLayout* flow = addFlowRow(caption);
    for (bool checkable : { false, true }) {
        flow->addWidget(createLabel(checkable ? QStringLiteral("Checkable:") : QStringLiteral("Clickable:")));
        QStringList icons { checkable ? checkIcon : clickIcon };
        if (twoIcons)
            icons << (checkable ? QStringLiteral(":/svg/settings.svg") : QStringLiteral(":/svg/zoom-out.svg"));
        for (const QString& icon : icons) {
            KelButton* button = createButton(widgetType, QString(), icon);
            button->setCheckable(checkable);
            flow->addWidget(button);
        }
        KelButton* withText = createButton(widgetType, QStringLiteral("With text"), icons.first());
        withText->setCheckable(checkable);
        flow->addWidget(withText);
    }
}

void ServicePage_Style::addWidgetSamples()
{
    struct Sample {
        int type;
        const char* text;
        const char* icon;
        bool checkable;
    };
    auto addSamples = [this](const QString& caption, const QList<Sample>& samples) {
        KelFlowLayout* flow = addFlowRow(caption);
        QList<KelButton*> made;
        for (const Sample& sample : samples) {
            KelButton* button = createButton(sample.type, QLatin1String(sample.text), QLatin1String(sample.icon));
            button->setCheckable(sample.checkable);
            flow->addWidget(button);
            made << button;
        }
        return made;
    };
    addSamples(QStringLiteral("Base push buttons:"),
        {
            { 1006, "WT_Button_Push_Gray_Outline", "", false },
            { 1007, "WT_Button_Push_Gray_Filled", "", false },
            { 1008, "WT_Button_Push_LightGray_Filled", "", false },
            { 1008, "WT_Button_Push_LightGray_Filled (checkable)", "", true },
            { 1009, "WT_Button_Push_Blue_Filled", "", false },
            { 1010, "WT_Button_Push_LightBlue_Filled", ":/svg/library-page-add-book.svg", false },
            { 1011, "WT_Button_Push_Green_Outline", "", false },
        });
    const QList<KelButton*> custom = addSamples(QStringLiteral("Custom push buttons:"),
        {
            { 1012, "WT_Button_Push_BackToPage", ":/svg/back-to-page.svg", false },
            { 1013, "WT_Button_Push_ContinueReading", ":/svg/play.svg", false },
            { 1015, "WT_UpdateButton_Titlebar", "", false },
            { 1020, "WT_Button_Push_FolderSelector_Settings", ":/svg/sidebar-folder.svg", false },
        });
    custom.last()->setFixedWidth(200);
    addToolButtonRow(QStringLiteral("WT_Button_Tool_Clickable:"), 1021, QStringLiteral(":/svg/zoom-in.svg"),
        QStringLiteral(":/svg/fullscreen.svg"), true);
    addToolButtonRow(QStringLiteral("WT_Button_Tool_Checkable:"), 1022, QStringLiteral(":/svg/zoom-in.svg"),
        QStringLiteral(":/svg/fullscreen.svg"), true);
    addToolButtonRow(QStringLiteral("WT_Button_Tool_Filled:"), 1023, QStringLiteral(":/svg/import-stop.svg"),
        QStringLiteral(":/svg/import-pause.svg"), false);
    addSamples(QStringLiteral("WT_Button_Tool_TableHeader:"),
        {
            { 1025, "Stretchable(Left)", "", false },
            { 1025, "Stretchable(Centered)", "", false },
            { 1025, "Fixed", "", false },
        });

    KelFlowLayout* sideBar = addFlowRow(QStringLiteral("SideBar:"));
    sideBar->addWidget(createLabel(QStringLiteral("Clickable:")));
    sideBar->addWidget(
        createButton(1034, QStringLiteral("WT_Button_SideBar_Simple"), QStringLiteral(":/svg/sidebar-help.svg")));
    sideBar->addWidget(createLabel(QStringLiteral("Checkable:")));
    KelButton* checkable
        = createButton(1035, QStringLiteral("WT_Button_SideBar_Checkable"), QStringLiteral(":/svg/book.svg"));
    checkable->setCheckable(true);
    sideBar->addWidget(checkable);
    KelButton* expandable = createButton(
        1036, QStringLiteral("WT_Button_SideBar_Expandable"), QStringLiteral(":/svg/sidebar-formats.svg"));
    expandable->setCheckable(true);
    KelStyle* pageStyle = style;
    expandable->setArrowParams(pageStyle->arrowSpec(1001));
    connect(expandable, &KelButton::toggled, expandable,
        [expandable, pageStyle](bool on) { expandable->setArrowParams(pageStyle->arrowSpec(on ? 1000 : 1001)); });
    sideBar->addWidget(expandable);

    KelFlowLayout* tabRow = addFlowRow(QStringLiteral("WT_Button_Tab_Horizontal:"));
    auto* group = new KelExclusiveButtonGroup(this);
    for (int i = 0; i < 4; ++i) {
        KelButton* tab
            = createButton(1037, QStringLiteral("Tab %1").arg(i), QStringLiteral(":/svg/library-view-cards.svg"));
        tab->setCheckable(true);
        group->addButton(tab, i);
        tabRow->addWidget(tab);
    }
    group->setCheckedByUserData(0);

    auto* slider = new KelSlider(36, Qt::Horizontal);
    slider->setFixedWidth(160);
    addFlowRow(QStringLiteral("WT_Slider_Default:"))->addWidget(slider);
}

KelTabWidget* createStylesPage()
{
    KelTabWidget* tabs = createTabPage(QStringLiteral("Styles"));
    for (KelStyle* style : KelStyleManager::instance()->styles())
        addTab(tabs, new ServicePage_Style(style), style->id());
    tabs->tabsLayout()->addStretch();
    return tabs;
}

KelTabWidget* createModelsPage()
{
    KelTabWidget* tabs = createTabPage(QStringLiteral("Models"));
    Application* app = Application::instance();
    if (app) {
        const QList<QAbstractItemModel*> models { app->folderModel(), app->bookModel(), app->bookSortFilterModel() };
        for (QAbstractItemModel* model : models) {
            if (!model)
                continue;
            auto* table = new QTableView;
            table->setModel(model);
            addTab(tabs, table, model->objectName());
        }
    }
    tabs->tabsLayout()->addStretch();
    return tabs;
}
