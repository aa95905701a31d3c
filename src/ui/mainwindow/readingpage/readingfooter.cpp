#include "readingfooter.h"

#include "bookcontext.h"
#include "bookpageparams.h"
#include "formats/booklink.h"
#include "settingsprovider.h"
#include "styles/kelstyle.h"
#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"
#include "widgets/kelslider.h"
#include "widgets/metroprogressbar.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGraphicsEffect>
#include <QHBoxLayout>
#include <QPainterPath>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

// Where the tip's hot spot lies: in from its left end, and above the handle's top edge.
const int kTipInset = 24;
const int kTipGap = 4;
// The tip's outline: a rounded body and, at its foot, a small pointer to the page it names.
const qreal kTipRadius = 6;
const int kPointerHeight = 6;
const int kPointerHalfWidth = 6;

// The pointer stands over the slider's position of the value the tip names, as near to it as the
// body's rounded corners let it.
QPainterPath tipOutline(KelFramePainter* painter, const QRect& frame)
{
    const QRectF body(frame.left(), frame.top(), frame.width(), frame.height() - kPointerHeight);
    QPainterPath outline;
    outline.addRoundedRect(body, kTipRadius, kTipRadius);
    QWidget* tip = painter->widget();
    KelSlider* slider = tip ? KelSlider::fromSubcontrol(tip) : nullptr;
    bool named = false;
    const int value = slider ? slider->property("TOOLTIP_SLIDER_VAL").toInt(&named) : 0;
    qreal x = frame.left() + kTipInset;
    if (named)
        x = tip->mapFromGlobal(slider->mapToGlobal(slider->positionFromValue(value))).x();
    x = qBound(body.left() + kTipRadius + kPointerHalfWidth, x, body.right() - kTipRadius - kPointerHalfWidth);
    QPainterPath pointer;
    pointer.moveTo(x - kPointerHalfWidth, body.bottom() - 1);
    pointer.lineTo(x, frame.top() + frame.height());
    pointer.lineTo(x + kPointerHalfWidth, body.bottom() - 1);
    pointer.closeSubpath();
    return outline.united(pointer);
}

QString tr(const char* text) { return QCoreApplication::translate("MainWindow_Reading_Footer", text); }

QString zeros(int count) { return QString(QString::number(qMax(count, 1)).size(), QLatin1Char('0')); }

QWidget* sideBox(QWidget* parent)
{
    auto* box = new QWidget(parent);
    QSizePolicy policy = box->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    box->setSizePolicy(policy);
    return box;
}

} // namespace

ReadingFooter::ReadingFooter(QWidget* parent)
    : KelFrame(1045, parent)
{
    setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_leftBox = sideBox(this);
    auto* leftLayout = new QHBoxLayout(m_leftBox);
    leftLayout->addStretch();
    m_pageLabel = new KelLabel(1054, m_leftBox);
    m_pageLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_slashLabel = new KelLabel(1053, m_leftBox);
    m_slashLabel->setText(QStringLiteral("/"));
    m_countLabel = new KelLabel(1053, m_leftBox);
    leftLayout->addWidget(m_pageLabel);
    leftLayout->addWidget(m_slashLabel);
    leftLayout->addWidget(m_countLabel);
    leftLayout->addStretch();

    m_stack = new QStackedWidget(this);
    m_sliderPage = new QWidget(m_stack);
    m_sliderPage->setObjectName(QStringLiteral("SliderBox"));
    auto* sliderLayout = new QVBoxLayout(m_sliderPage);
    sliderLayout->setContentsMargins(0, 0, 0, 0);
    m_slider = new KelSlider(1073, Qt::Horizontal, m_sliderPage);
    m_slider->setMinimum(1);
    m_slider->installEventFilter(this);
    m_slider->setTooltipTextFunction([this](int value, QString& text, QString& subText) {
        m_slider->setProperty("TOOLTIP_SLIDER_VAL", value);
        const int page = sliderValueToPage(value);
        if (QSharedPointer<BookContext> context = bookContext())
            text = context->chapterTitleForPage(page);
        subText = tr("Page:") + QLatin1Char(' ') + pageText(page);
    });
    sliderLayout->addWidget(m_slider);
    // The tip (the chapter and the page under the pointer) is taller than the slider, which is as
    // high as its handle: inside it, the tip would be cut to its middle. It stands in the page above
    // the slider instead, its hot spot a little in from its left end, below it by half a handle.
    if (parent) {
        KelButton* tip = m_slider->tooltip();
        tip->setText(QStringLiteral("0"));
        tip->setSubText(QStringLiteral("0"));
        m_slider->setTooltipOffset(
            QPoint(kTipInset, tip->height() + m_slider->positionHandle()->height() / 2 + kTipGap));
        // Placed at the offset, the tip was shown: the page takes it hidden.
        m_slider->setSubcontrolsParent(parent);
        tip->setCustomPathFunction(tipOutline);
        tip->installEventFilter(this);
        m_tip = tip;
    }

    m_progressPage = new QWidget(m_stack);
    m_progressPage->setObjectName(QStringLiteral("ProgressBox"));
    auto* progressLayout = new QHBoxLayout(m_progressPage);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    m_progressBar = new MetroProgressBar(m_progressPage);
    m_progressBar->setDotRadius(5.0);
    progressLayout->addStretch(1);
    progressLayout->addWidget(m_progressBar, 2, Qt::AlignVCenter);
    progressLayout->addStretch(1);
    m_stack->addWidget(m_sliderPage);
    m_stack->addWidget(m_progressPage);

    m_rightBox = sideBox(this);
    auto* rightLayout = new QHBoxLayout(m_rightBox);
    m_backButton = new KelButton(1012, m_rightBox);
    // Without a page to go back to the button vanishes but keeps its place, so the slider stays.
    QSizePolicy backPolicy = m_backButton->sizePolicy();
    backPolicy.setRetainSizeWhenHidden(true);
    m_backButton->setSizePolicy(backPolicy);
    rightLayout->addWidget(m_backButton);

    layout->addWidget(m_leftBox);
    layout->addWidget(m_stack, 1);
    layout->addWidget(m_rightBox);

    applyStyle();
    retranslateUi();
    updateState();
}

ReadingFooter::~ReadingFooter() = default;

void ReadingFooter::setFullscreenLook(bool on)
{
    m_fullscreenLook = on;
    setBorderWidths(on ? QMargins(0, 1, 0, 0) : QMargins());
    updateState();
}

void ReadingFooter::retranslateUi() { updateBackButton(); }

void ReadingFooter::applyStyle()
{
    if (m_progressBar)
        m_progressBar->setColor(kelStyle()->color(1008));
    KelFrame::applyStyle();
    if (m_stack)
        updateState();
}

void ReadingFooter::onBookContextChanged(QSharedPointer<BookContext> context)
{
    BookContext* book = context.data();
    m_bookConnections << connect(m_slider, &KelSlider::sliderMoved, book,
        [this, book](int value) { book->navigateToPage(sliderValueToPage(value)); });
    m_bookConnections << connect(m_slider, &KelSlider::sliderPressed, book, &BookContext::storeCurrentPageLink);
    m_bookConnections << connect(m_slider, &KelSlider::sliderReleased, book, &BookContext::updateCurrentPageLink);
    m_bookConnections << connect(book, &BookContext::pageCountChanged, this, &ReadingFooter::refresh);
    m_bookConnections << connect(book, &BookContext::currentPageChanged, this, &ReadingFooter::refresh);
    if (book->pageParams())
        m_bookConnections << connect(
            book->pageParams(), &BookPageParams::columnCountChanged, this, &ReadingFooter::refresh);
    m_bookConnections << connect(book, &BookContext::pageCountAboutToChange, this, [this] {
        m_paginated = false;
        updateState();
    });
    m_bookConnections << connect(book, &BookContext::backToPageLinkChanged, this, &ReadingFooter::updateBackButton);
    m_bookConnections << connect(m_backButton, &KelButton::clicked, book, &BookContext::goBackToPage);
    refresh();
    updateBackButton();
}

void ReadingFooter::resetBookState()
{
    m_paginated = false;
    updateState();
}

bool ReadingFooter::eventFilter(QObject* watched, QEvent* event)
{
    // The wheel would jump through the book by accident while scrolling the page.
    if (watched == m_slider && event->type() == QEvent::Wheel)
        return true;
    // Kept from the ends of the page, the tip may stand off its hot spot: its pointer follows the
    // position it names wherever it is placed.
    if (event->type() == QEvent::Move && watched == m_tip) {
        if (auto* tip = qobject_cast<KelButton*>(watched))
            tip->updateLayout();
    }
    return KelFrame::eventFilter(watched, event);
}

void ReadingFooter::updateState()
{
    m_leftBox->setVisible(m_paginated);
    m_rightBox->setVisible(m_paginated);
    m_stack->setCurrentWidget(m_paginated ? m_sliderPage : m_progressPage);
    if (QGraphicsEffect* shadow = graphicsEffect())
        shadow->setEnabled(m_fullscreenLook);
}

void ReadingFooter::refresh()
{
    const QSharedPointer<BookContext> context = bookContext();
    if (!context) {
        m_paginated = false;
        updateState();
        return;
    }
    const int current = context->currentPage();
    const int count = context->pageCount();
    showPages(current, count);
    m_paginated = current > 0 && count > 0;
    updateState();
    const int bookId = context->bookDto().id;
    if (current >= 1 && count >= 1 && bookId > 0) {
        SettingsProvider* settings = SettingsProvider::instance();
        settings->setLast_book_id(bookId);
        settings->setLast_book_page(current);
        settings->setLast_book_page_count(count);
    }
}

void ReadingFooter::showPages(int current, int count)
{
    const QSharedPointer<BookContext> context = bookContext();
    if (current <= 0 || count <= 0 || !context) {
        m_paginated = false;
        return;
    }
    const int previousCount = m_pageCount;
    m_currentPage = current;
    m_pageCount = count;
    m_columns = context->pageParams() && context->pageParams()->columnCount() == 2 ? 2 : 1;

    bool textChanged = false;
    const QString text = pageText(current);
    if (m_pageLabel->text() != text) {
        m_pageLabel->setText(text);
        m_pageLabel->setFixedWidth(m_pageLabel->fontMetrics().horizontalAdvance(measuringText()) + 1);
        textChanged = true;
    }
    const QString countText = QString::number(count);
    if (m_countLabel->text() != countText) {
        m_countLabel->setText(countText);
        textChanged = true;
    }

    m_slider->setMaximum(m_columns == 1 ? count : (count + 1) / 2);
    if (!m_slider->isSliderDown())
        m_slider->setValueSilently(m_columns == 1 ? current : (current + 1) / 2);

    if (previousCount != count)
        updateBackButton();
    else if (textChanged)
        equalizeSideBoxes();
}

QString ReadingFooter::pageText(int page) const
{
    if (m_columns == 2 && page < m_pageCount)
        return QStringLiteral("%1-%2").arg(page).arg(page + 1);
    return QString::number(page);
}

QString ReadingFooter::measuringText() const
{
    const QString digits = zeros(m_pageCount);
    return m_columns == 2 ? digits + QLatin1Char('-') + digits : digits;
}

int ReadingFooter::sliderValueToPage(int value) const { return m_columns == 1 ? value : value * m_columns - 1; }

void ReadingFooter::updateBackButton()
{
    const QSharedPointer<BookContext> context = bookContext();
    if (!context)
        return;
    const BookLinkPtr link = context->backToPageLink();
    const int page = link ? link->page : 0;
    m_backButton->setEnabled(page > 0);
    m_backButton->setVisible(page > 0);
    const QString caption = tr("Back to page") + QStringLiteral(" %1");
    m_backButton->setText(caption.arg(page));
    const QFontMetrics metrics(m_backButton->font());
    m_backButton->setFixedWidth(metrics.horizontalAdvance(caption.arg(zeros(m_pageCount))) + 32);
    equalizeSideBoxes();
}

void ReadingFooter::equalizeSideBoxes()
{
    m_leftBox->setMinimumWidth(0);
    m_leftBox->setMaximumWidth(QWIDGETSIZE_MAX);
    m_rightBox->setMinimumWidth(0);
    m_rightBox->setMaximumWidth(QWIDGETSIZE_MAX);
    const int width = qMax(m_leftBox->sizeHint().width(), m_rightBox->sizeHint().width());
    m_leftBox->setFixedWidth(width);
    m_rightBox->setFixedWidth(width);
}
