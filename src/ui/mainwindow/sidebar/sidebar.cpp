#include "sidebar.h"

#include "application.h"
#include "enums.h"
#include "formats/bookformat.h"
#include "kelui.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "models/booksortfiltermodel.h"
#include "sidebarfolders.h"
#include "styles/kelstyle.h"
#include "styles/kelstylemanager.h"
#include "styles/noisepainter.h"
#include "widgets/kelbutton.h"
#include "widgets/keldelimiter.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "widgets/keliconwidget.h"
#include "widgets/kellabel.h"
#include "widgets/kelscrollarea.h"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QSpacerItem>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

namespace {

QString sideBarText(const char* text) { return QCoreApplication::translate("MainWindow_SideBar", text); }

constexpr int kFormatCount = 11;

} // namespace

QString categoryEntryName(const char* text) { return sideBarText(text).chopped(4).trimmed(); }

SideBarHeader::SideBarHeader(QWidget* parent)
    : QWidget(parent)
{
    m_title = new KelLabel(1050, this);
    m_subtitle = new KelLabel(1051, this);
    auto* icon = new KelIconWidget(":/appicon.svg", this);
    icon->setIconSize(QSize(32, 32));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(13, 11, 13, 0);
    outer->setSpacing(0);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(icon);
    auto* texts = new QVBoxLayout;
    texts->setContentsMargins(0, 0, 0, 0);
    texts->setSpacing(0);
    texts->addWidget(m_title);
    texts->addWidget(m_subtitle);
    texts->addStretch();
    row->addLayout(texts);
    row->addStretch();
    outer->addLayout(row);
    outer->addStretch();
    setFixedHeight(80);
    setObjectName(QStringLiteral("Header"));
}

class SideBarExpandebleBox::Private {
public:
    KelButton* button = nullptr;
    QWidget* content = nullptr;
    QVBoxLayout* contentLayout = nullptr;
    bool holdsChecked = false;
};

SideBarExpandebleBox::SideBarExpandebleBox(KelExclusiveButtonGroup* group, const char* iconName, QWidget* parent)
    : KelWidget(parent)
    , d(new Private)
{
    d->button = new KelButton(1036, QString::fromLatin1(iconName), this);
    d->button->setCheckable(true);
    d->content = new QWidget(this);
    d->contentLayout = new QVBoxLayout(d->content);
    d->contentLayout->setContentsMargins(0, 0, 0, 0);
    d->contentLayout->setSpacing(0);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(d->button);
    layout->addWidget(d->content);
    auto expand = [this](bool expanded) {
        d->content->setVisible(expanded);
        if (KelStyle* style = KelStyleManager::instance()->currentStyle())
            d->button->setArrowParams(style->arrowSpec(expanded ? 1000 : 1001));
        update();
    };
    connect(d->button, &KelButton::toggled, this, expand);
    expand(false);
    connect(group, &KelExclusiveButtonGroup::toggled, this, [this](KelButton* button) {
        const bool holds = button && d->content->isAncestorOf(button);
        if (holds == d->holdsChecked)
            return;
        d->holdsChecked = holds;
        update();
    });
}

SideBarExpandebleBox::~SideBarExpandebleBox() = default;

QVBoxLayout* SideBarExpandebleBox::contentLayout() const { return d->contentLayout; }
KelButton* SideBarExpandebleBox::expandButton() const { return d->button; }
bool SideBarExpandebleBox::holdsCheckedEntry() const { return d->holdsChecked; }

void SideBarExpandebleBox::paintEvent(QPaintEvent* event)
{
    KelStyle* style = KelStyleManager::instance()->currentStyle();
    if (d->button->isChecked() || !d->holdsChecked || !style)
        return;
    QPainter painter(this);
    painter.fillRect(event->rect(), style->colorSet(1002).checked.normal);
    const double ratio = devicePixelRatioF();
    painter.fillRect(QRectF(0, 0, std::round(4 * ratio) / ratio, height()), style->color(0));
}

class SideBar::Private {
public:
    QPointer<BookModel> books;
    KelExclusiveButtonGroup* group = nullptr;
    SideBarHeader* header = nullptr;
    KelButton* allBooks = nullptr;
    KelButton* recentlyRead = nullptr;
    KelButton* favorites = nullptr;
    KelScrollArea* scrollArea = nullptr;
    SideBarExpandebleBox* formatsBox = nullptr;
    SideBarFolders* folders = nullptr;
    KelButton* trash = nullptr;
    KelDelimiter* delimiter = nullptr;
    QSpacerItem* spacer = nullptr;
    KelButton* service = nullptr;
    KelButton* settings = nullptr;
    KelButton* help = nullptr;
    QColor background;
    bool plain = true;
    bool refreshQueued = false;
};

SideBar::SideBar(QWidget* parent, BookModel* books, FolderModel* folderModel, BookSortFilterModel* filter)
    : KelFrame(parent)
    , d(new Private)
{
    if (Application* app = Application::instance()) {
        books = books ? books : app->bookModel();
        folderModel = folderModel ? folderModel : app->folderModel();
        filter = filter ? filter : app->bookSortFilterModel();
    }
    d->books = books;
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    d->group = new KelExclusiveButtonGroup(1035, this);
    connect(d->group, &KelExclusiveButtonGroup::toggled, this, [this](KelButton*, const QVariant& userData) {
        bringIntoView();
        emit categoryClicked(userData.toInt());
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    d->header = new SideBarHeader(this);
    layout->addWidget(d->header);
    auto groupButton = [this, layout](int category, const char* icon, const char* name) {
        KelButton* button = d->group->createButton(category, QString::fromLatin1(icon));
        button->setParent(this);
        button->setObjectName(QString::fromLatin1(name));
        layout->addWidget(button);
        return button;
    };
    d->allBooks = groupButton(Enums::AllBooks, ":/svg/book.svg", "AllBooks");
    d->recentlyRead = groupButton(Enums::RecentlyRead, ":/svg/sidebar-history.svg", "LastRead");
    d->favorites = groupButton(Enums::Favorites, ":/svg/sidebar-favorite.svg", "Favorite");
    layout->addSpacing(6);
    d->scrollArea = new KelScrollArea(this);
    d->scrollArea->setObjectName(QStringLiteral("ExpandableBoxesScroll"));
    auto* content = new KelWidget(d->scrollArea);
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(0);
    d->formatsBox = new SideBarExpandebleBox(d->group, ":/svg/sidebar-formats.svg", content);
    d->formatsBox->setObjectName(QStringLiteral("FormatsBox"));
    contentLayout->addWidget(d->formatsBox);
    d->folders = new SideBarFolders(d->group, folderModel, books, content);
    d->folders->setObjectName(QStringLiteral("FoldersBox"));
    contentLayout->addWidget(d->folders);
    content->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    d->scrollArea->setWidget(content);
    layout->addWidget(d->scrollArea);
    layout->addSpacing(6);
    d->trash = groupButton(Enums::Deleted, ":/svg/trash.svg", "Deleted");
    d->delimiter = new KelDelimiter(1066, Qt::Horizontal, this);
    d->delimiter->setObjectName(QStringLiteral("Delimiter"));
    layout->addWidget(d->delimiter);
    d->spacer = new QSpacerItem(0, 0, QSizePolicy::Fixed, QSizePolicy::Expanding);
    layout->addItem(d->spacer);
    d->service = new KelButton(1034, QStringLiteral(":/svg/sidebar-bug.svg"), this);
    d->service->setText(QStringLiteral("Service"));
    d->service->setObjectName(QStringLiteral("Service"));
    layout->addWidget(d->service);
    d->settings = groupButton(Enums::AppSettings, ":/svg/settings.svg", "Settings");
    d->help = new KelButton(1034, QStringLiteral(":/svg/sidebar-help.svg"), this);
    d->help->setObjectName(QStringLiteral("Help"));
    layout->addWidget(d->help);
    layout->addSpacing(7);

    KelUi* ui = KelUi::instance();
    d->service->setVisible(ui && ui->isMaintenanceMode());

    for (int code = 0; code < kFormatCount; ++code) {
        KelButton* button
            = d->group->createButton(int(Enums::BookFormat) + code, QStringLiteral(":/svg/empty-icon-16.svg"));
        button->setText(bookFormatName(code));
        d->formatsBox->contentLayout()->addWidget(button);
    }

    refreshCounts();
    if (books) {
        for (auto signal : { &QAbstractItemModel::modelReset })
            connect(books, signal, this, &SideBar::scheduleCountRefresh);
        connect(books, &QAbstractItemModel::rowsInserted, this, &SideBar::scheduleCountRefresh);
        connect(books, &QAbstractItemModel::rowsRemoved, this, &SideBar::scheduleCountRefresh);
        connect(books, &QAbstractItemModel::dataChanged, this, &SideBar::scheduleCountRefresh);
    }
    setObjectName(QStringLiteral("SideBar"));

    if (ui) {
        connect(ui, &KelUi::maintenanceModeStateChanged, this, [this](bool on) {
            d->service->setVisible(on);
            if (on)
                emit d->service->clicked();
        });
    }
    connect(d->service, &KelButton::clicked, this, &SideBar::showServiceModeWindowClicked);
    connect(d->help, &KelButton::clicked, this, &SideBar::helpClicked);

    d->scrollArea->setEdgeShadows(Qt::TopEdge | Qt::BottomEdge, 41, true);
    d->scrollArea->setAutoSizeEnabled(true);
    d->scrollArea->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Maximum);
    d->scrollArea->setEnsureVisibleMargins(QMargins(0, 6, 0, 6));
    connect(d->folders, &SideBarFolders::scrollTo, this, [this, content](QWidget* w, bool animate) {
        content->resize(content->sizeHint());
        d->scrollArea->scrollTo(w, animate);
    });

    if (filter && d->group->setCheckedByUserDataSilently(filter->filterCategory()))
        bringIntoView();
    translateUi();
}

SideBar::~SideBar() = default;

int SideBar::currentCategory() const { return d->group->checkedButton() ? d->group->checkedUserData().toInt() : -1; }

void SideBar::setCurrentCategory(int category)
{
    d->group->setCheckedByUserDataSilently(category);
    bringIntoView();
}

void SideBar::onFilterCategoryChanged(int category)
{
    d->group->setCheckedByUserData(category);
    bringIntoView();
}

KelButton* SideBar::entry(int category) const { return d->group->button(category); }
KelButton* SideBar::serviceEntry() const { return d->service; }
KelButton* SideBar::helpEntry() const { return d->help; }
SideBarExpandebleBox* SideBar::formatsBox() const { return d->formatsBox; }
SideBarFolders* SideBar::folders() const { return d->folders; }
KelDelimiter* SideBar::delimiter() const { return d->delimiter; }
KelScrollArea* SideBar::scrollArea() const { return d->scrollArea; }

void SideBar::bringIntoView()
{
    KelButton* checked = d->group->checkedButton();
    if (!checked)
        return;
    if (d->formatsBox->isAncestorOf(checked))
        d->formatsBox->expandButton()->setChecked(true);
    if (d->scrollArea->isAncestorOf(checked))
        d->scrollArea->scrollTo(checked, false);
}

// An import or a row change sends many model signals in one go; the counts are read once for all
// of them.
void SideBar::scheduleCountRefresh()
{
    if (d->refreshQueued)
        return;
    d->refreshQueued = true;
    QTimer::singleShot(0, this, &SideBar::refreshCounts);
}

void SideBar::refreshCounts()
{
    d->refreshQueued = false;
    CategoryCountsDto counts;
    QMap<int, QPair<int, int>> byFormat;
    if (d->books) {
        counts = d->books->categoryCounts();
        byFormat = d->books->bookCountsByFormat();
    }
    d->allBooks->setSubText(QString::number(counts.all_count));
    d->recentlyRead->setSubText(
        QString::number(qMin(counts.recently_read_count, BookProvider::recentlyReadMaxBookCount())));
    d->favorites->setSubText(QString::number(counts.favorites_count));
    d->trash->setSubText(QString::number(counts.deleted_count));
    d->formatsBox->setVisible(!byFormat.isEmpty());
    for (int code = 0; code < kFormatCount; ++code) {
        KelButton* button = d->group->button(int(Enums::BookFormat) + code);
        button->setVisible(byFormat.contains(code));
        if (byFormat.contains(code))
            button->setSubText(QString::number(byFormat.value(code).second));
    }
}

void SideBar::updateDelimiter() { d->delimiter->setVisible(d->spacer->geometry().height() < 24); }

void SideBar::resizeEvent(QResizeEvent* event)
{
    KelFrame::resizeEvent(event);
    updateDelimiter();
}

void SideBar::showEvent(QShowEvent* event)
{
    KelFrame::showEvent(event);
    bringIntoView();
}

void SideBar::setPlainBackground(bool plain)
{
    if (plain == d->plain)
        return;
    d->plain = plain;
    if (plain)
        removeEventFilter(NoisePainter::instance());
    else
        installEventFilter(NoisePainter::instance());
    update();
}

bool SideBar::isPlainBackground() const { return d->plain; }

void SideBar::setBackgroundColor(const QColor& color)
{
    d->background = color;
    update();
}

QColor SideBar::backgroundColor() const { return d->background; }

void SideBar::translateUi()
{
    d->header->titleLabel()->setText(sideBarText("Brindle"));
    d->header->subtitleLabel()->setText(sideBarText("Folvane"));
    d->allBooks->setText(categoryEntryName("All (%1)"));
    d->recentlyRead->setText(categoryEntryName("Recently Read (%1)"));
    d->favorites->setText(categoryEntryName("Favorites (%1)"));
    d->trash->setText(categoryEntryName("Deleted (%1)"));
    d->formatsBox->expandButton()->setText(sideBarText("Formats").trimmed());
    d->settings->setText(sideBarText("Settings"));
    d->help->setText(sideBarText("Help"));
    d->folders->translateUi();
    // A new text takes the second line with it; the counts go back at once.
    refreshCounts();
}

void SideBar::paintEvent(QPaintEvent* event)
{
    if (d->background.isValid() && d->background.alpha() > 0) {
        QPainter painter(this);
        painter.fillRect(rect(), d->background);
    }
    KelFrame::paintEvent(event);
}
