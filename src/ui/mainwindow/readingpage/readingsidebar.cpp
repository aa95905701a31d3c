#include "readingsidebar.h"

#include "bookcontext.h"
#include "bookpageparams.h"
#include "readingenums.h"
#include "readingmodelwidget.h"
#include "utils/kellayoututils.h"
#include "widgets/kellabel.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QMetaEnum>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {
constexpr int kHeaderFrameStyle = 1042;
constexpr int kEmptyLabelStyle = 1064;
constexpr int kTopShadowStyle = 41;
constexpr int kCursorMargin = 32;
}

ReadingSideBar::ReadingSideBar(int sideBarType, QWidget* parent)
    : KelFrame(-1, parent)
    , m_sideBarType(sideBarType)
{
    hide();
}

BookItemsSideBar::BookItemsSideBar(int sideBarType, QWidget* parent, int trackMode)
    : ReadingSideBar(sideBarType, parent)
    , m_trackMode(trackMode)
{
    QVBoxLayout* layout = KelUtils::vBoxLayout(this);
    m_modelWidget = new ReadingModelWidget(this);
    m_modelWidget->setObjectName(QStringLiteral("ModelWidget"));
    m_emptyLabel = new KelLabel(kEmptyLabelStyle, this);
    m_emptyLabel->setObjectName(QStringLiteral("IsEmptyLabel"));
    // A hint wider than the page wraps instead of running off its edges.
    m_emptyLabel->setWordWrap(true);
    layout->addWidget(m_modelWidget);
    layout->addWidget(m_emptyLabel);
    m_modelWidget->setEdgeShadows(Qt::TopEdge, kTopShadowStyle, true);
    connect(m_modelWidget, &KelListWidget::rowCountChanged, this, &BookItemsSideBar::onRowCountChanged);
    connect(
        m_modelWidget, &ReadingModelWidget::textCursorPositionChanged, this, &BookItemsSideBar::ensureCursorVisible);
    // The text comes with the first row count or translation: emptyText() is not callable yet.
    m_modelWidget->hide();
}

BookItemsSideBar::~BookItemsSideBar()
{
    // The rows read the model while they go; the list goes first.
    delete m_modelWidget;
    delete m_proxyModel;
}

void BookItemsSideBar::retranslateUi()
{
    m_emptyLabel->setText(emptyText());
    m_modelWidget->retranslateItems();
}

QHBoxLayout* BookItemsSideBar::headerLayout()
{
    if (m_headerLayout)
        return m_headerLayout;
    auto* header = new KelFrame(kHeaderFrameStyle, this);
    header->setBorderWidths(QMargins(0, 0, 0, 1));
    header->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
    KelUtils::vBoxLayout(this)->insertWidget(0, header);
    m_headerLayout = new QHBoxLayout(header);
    m_headerLayout->setContentsMargins(24, 0, 24, 16);
    m_headerLayout->setSpacing(12);
    return m_headerLayout;
}

void BookItemsSideBar::setProxyModel(QAbstractItemModel* model)
{
    if (m_proxyModel == model)
        return;
    m_modelWidget->setModel(nullptr);
    delete m_proxyModel;
    m_proxyModel = model;
    if (model && model->objectName().isEmpty()) {
        const char* key = QMetaEnum::fromType<ReadingEnums::SideBar>().valueToKey(sideBarType());
        model->setObjectName(QStringLiteral("%1ProxyModel").arg(QLatin1String(key)));
    }
    m_modelWidget->setModel(model, QModelIndex());
}

void BookItemsSideBar::onRowCountChanged(int count)
{
    m_modelWidget->setVisible(count >= 1);
    m_emptyLabel->setVisible(count < 1);
    if (count < 1)
        m_emptyLabel->setText(emptyText());
}

void BookItemsSideBar::ensureCursorVisible()
{
    auto* editor = qobject_cast<QPlainTextEdit*>(QApplication::focusWidget());
    if (!editor || !isAncestorOf(editor) || !m_modelWidget->widget())
        return;
    const QPoint centre = editor->viewport()->mapTo(m_modelWidget->widget(), editor->cursorRect().center());
    m_modelWidget->ensureRectVisible(QRect(centre, QSize(1, 1)).adjusted(0, -kCursorMargin, 0, kCursorMargin), false);
}

void BookItemsSideBar::onBookContextChanged(QSharedPointer<BookContext> context)
{
    BookContext* raw = context.data();
    m_bookConnections << connect(m_modelWidget, &ReadingModelWidget::navLinkClicked, raw,
        [raw](BookLinkPtr link, bool) { raw->navigateToLink(link); });
    if (m_trackMode == TrackPageRange) {
        m_bookConnections << connect(
            raw, &BookContext::currentPageChanged, this, &BookItemsSideBar::updateCurrentByPage);
        updateCurrentByPage();
    } else {
        m_bookConnections << connect(
            raw, &BookContext::currentChapterChanged, this, &BookItemsSideBar::updateCurrentByToc);
        updateCurrentByToc();
    }
}

void BookItemsSideBar::updateCurrentByPage()
{
    BookContext* context = bookContext().data();
    if (!context)
        return;
    const int first = context->currentPage();
    const int last = first + context->pageParams()->columnCount() - 1;
    m_modelWidget->setCurrentItemKey(QVariant::fromValue(qMakePair(first, last)));
}

void BookItemsSideBar::updateCurrentByToc()
{
    if (BookContext* context = bookContext().data())
        m_modelWidget->setCurrentItemKey(context->currentTocItemId());
}
