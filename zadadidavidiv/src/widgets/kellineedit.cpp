#include "widgets/kellineedit.h"

#include "animators/kelwidgetstateanimator.h"
#include "eventfilters/kelqmenustyler.h"
#include "painting/kelicon.h"
#include "painting/keliconsprovider.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "styles/kelcolors.h"
#include "styles/kelstyle.h"
#include "utils/kelgeometryutils.h"
#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QList>
#include <QPointer>

namespace {
// The style sheet role of the field's context menu.
const int kMenuStyleRole = 40;
const int kClearButtonRole = 25;
const int kErrorLabelRole = 8;
const int kClearIconKind = 3;
const int kWidthInCharsMetric = 26;
// QLineEdit keeps a horizontal margin of its own around the text.
const int kQLineEditTextMargin = 2;
} // namespace

class KelLineEdit::Private {
public:
    int textVerticalOffset = 0;
    int sideWidgetSpacing = 0;
    bool passwordWhenUnfocused = false;
    KelIcon* icon = nullptr;
    QMargins iconMargins;
    KelStateColors iconColors;
    QList<QPointer<QWidget>> sideWidgets;
    QPointer<KelButton> clearButton;
    bool clearOnEscape = false;
    bool errorShown = false;
    KelWidgetStateAnimator* stateAnimator = nullptr;
    QPointer<KelLabel> errorLabel;
};

KelLineEdit::KelLineEdit(int styleRole, QWidget* parent)
    : QLineEdit(parent)
    , KelFramePainter(this)
    , KelStyleable(styleRole)
    , d(new Private)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &QLineEdit::textChanged, this, &KelLineEdit::updateClearButton);
    setFocusPolicy(Qt::WheelFocus);
    d->stateAnimator = new KelWidgetStateAnimator(2, this);
    d->stateAnimator->setWidget(this);
    new KelQMenuStyler(this, kMenuStyleRole);
    if (isStyled())
        applyStyle();
}

KelLineEdit::~KelLineEdit()
{
    // The label lives in our parent, which may outlive us by far.
    delete d->errorLabel.data();
}

void KelLineEdit::applyStyle()
{
    if (!isStyled())
        return;
    kelStyle()->applyLineEditStyle(this, widgetType());
    updateTextMargins();
}

void KelLineEdit::addClearButton(bool clearOnEscape)
{
    if (d->clearButton)
        return;
    auto* button = new KelButton(kClearButtonRole, kelStyle()->iconPath(kClearIconKind));
    d->clearButton = button;
    addSideWidget(button);
    button->setVisible(!text().isEmpty());
    updateTextMargins();
    connect(button, &KelButton::clicked, this, &KelLineEdit::clearByButton);
    d->clearOnEscape = clearOnEscape;
    if (clearOnEscape)
        connect(this, &KelLineEdit::cancelPressed, this, &KelLineEdit::clearByButton);
}

KelButton* KelLineEdit::clearButton() const { return d->clearButton; }

void KelLineEdit::addSideWidget(QWidget* widget)
{
    if (!widget)
        return;
    const bool hidden = widget->isHidden();
    widget->setParent(this);
    widget->setVisible(!hidden);
    // A widget made without a parent has no size of its own yet.
    widget->resize(widget->sizeHint().expandedTo(QSize(0, 0)));
    if (auto* kelWidget = qobject_cast<KelWidget*>(widget))
        connect(kelWidget, &KelWidget::visibilityToParentChanged, this, &KelLineEdit::updateTextMargins);
    d->sideWidgets.append(widget);
    updateTextMargins();
    updateSideWidgets();
}

void KelLineEdit::clearByButton()
{
    clear();
    emit textEdited(QString());
    if (d->clearButton)
        d->clearButton->hide();
}

void KelLineEdit::updateClearButton()
{
    if (d->clearButton && d->clearButton->isVisibleTo(this) != !text().isEmpty()) {
        d->clearButton->setVisible(!text().isEmpty());
        updateTextMargins();
    }
    const QSizePolicy::Policy policy = sizePolicy().horizontalPolicy();
    if (policy == QSizePolicy::Fixed || (policy & QSizePolicy::ShrinkFlag))
        updateGeometry();
}

void KelLineEdit::showError(const QString& text, const QColor& color)
{
    d->errorShown = true;
    if (!d->errorLabel) {
        d->errorLabel = new KelLabel(kErrorLabelRole, parentWidget());
        d->errorLabel->setObjectName(QStringLiteral("LineEditErrorLabel"));
    }
    d->errorLabel->setText(text);
    d->errorLabel->resize(width(), d->errorLabel->sizeHint().height());
    setWidgetForegroundColor(d->errorLabel, color.isValid() ? color : kelStyle()->color(KelStyle::CL_Text_Error));
    updateSideWidgets();
}

void KelLineEdit::hideError()
{
    if (!d->errorLabel)
        return;
    d->errorShown = false;
    d->errorLabel->clear();
    updateSideWidgets();
}

KelLabel* KelLineEdit::errorLabel() const { return d->errorLabel; }

void KelLineEdit::setIcon(const QString& iconId)
{
    KelIcon* icon = KelIconsProvider::instance()->icon(iconId);
    if (icon && (!icon->isValid() || icon->defaultSize().isEmpty()))
        icon = nullptr;
    d->icon = icon;
    updateTextMargins();
}

KelIcon* KelLineEdit::icon() const { return d->icon; }

void KelLineEdit::setIconMargins(const QMargins& margins)
{
    if (d->iconMargins == margins)
        return;
    d->iconMargins = margins;
    updateTextMargins();
}

void KelLineEdit::setIconColors(const KelStateColors& colors)
{
    if (d->iconColors == colors)
        return;
    d->iconColors = colors;
    update();
}

void KelLineEdit::setTextVerticalOffset(int offset)
{
    if (d->textVerticalOffset == offset)
        return;
    d->textVerticalOffset = offset;
    updateTextMargins();
}

void KelLineEdit::setSideWidgetSpacing(int spacing)
{
    if (d->sideWidgetSpacing == spacing)
        return;
    d->sideWidgetSpacing = spacing;
    updateTextMargins();
}

int KelLineEdit::sideWidgetSpacing() const { return d->sideWidgetSpacing; }

void KelLineEdit::setPasswordWhenUnfocused(bool on)
{
    d->passwordWhenUnfocused = on;
    applyPasswordEcho();
}

bool KelLineEdit::passwordWhenUnfocused() const { return d->passwordWhenUnfocused; }

void KelLineEdit::applyPasswordEcho()
{
    if (d->passwordWhenUnfocused)
        setEchoMode(hasFocus() ? QLineEdit::Normal : QLineEdit::Password);
}

void KelLineEdit::setTextSilently(const QString& newText)
{
    if (newText == text())
        return;
    const bool wasBlocked = blockSignals(true);
    setText(newText);
    blockSignals(wasBlocked);
    updateClearButton();
}

KelWidgetStateAnimator* KelLineEdit::stateAnimator() const { return d->stateAnimator; }

int KelLineEdit::sideWidgetsWidth() const
{
    int sum = 0;
    for (const QPointer<QWidget>& widget : d->sideWidgets) {
        if (widget && widget->isVisibleTo(this))
            sum += widget->width();
    }
    return sum >= 1 ? sum + d->sideWidgetSpacing : 0;
}

int KelLineEdit::iconPartWidth() const
{
    if (!d->icon)
        return 0;
    return d->icon->defaultSize().width() + d->iconMargins.left() + d->iconMargins.right();
}

void KelLineEdit::updateTextMargins()
{
    const QMargins m = margins();
    const QMargins b = borderWidths();
    const QMargins p = paddings();
    const int left = m.left() + b.left() + p.left() - kQLineEditTextMargin + iconPartWidth();
    const int right = m.right() + b.right() + p.right() - kQLineEditTextMargin + sideWidgetsWidth();
    setTextMargins(left, d->textVerticalOffset, right, -d->textVerticalOffset);
    updateGeometry();
    update();
}

void KelLineEdit::updateSideWidgets()
{
    const QMargins m = margins();
    const QMargins b = borderWidths();
    const int innerHeight = qMax(0, height() - (m.top() + b.top() + m.bottom() + b.bottom()));
    int x = width() - (m.right() + b.right());
    const int y = m.top() + b.top();
    for (const QPointer<QWidget>& widget : d->sideWidgets) {
        if (!widget)
            continue;
        x -= widget->width();
        widget->setFixedHeight(innerHeight);
        widget->move(x, y);
    }
    KelLabel* label = d->errorLabel;
    if (!label)
        return;
    if (label->parentWidget() && d->errorShown) {
        label->setVisible(true);
        label->setFixedWidth(width());
        label->move(geometry().x(), geometry().y() + height());
        label->raise();
    } else {
        label->setVisible(false);
    }
}

QSize KelLineEdit::contentSizeHint() const
{
    const QMargins box = boxMargins();
    int width = box.left() + box.right() + iconPartWidth();
    int height = box.top() + box.bottom();
    const QFontMetrics metrics(font());
    width += kelStyle()->metric(kWidthInCharsMetric) * metrics.horizontalAdvance(QLatin1Char('x'));
    height += metrics.height();
    width += sideWidgetsWidth() + 3;
    return QSize(width, height);
}

QSize KelLineEdit::sizeHint() const { return contentSizeHint(); }

QSize KelLineEdit::minimumSizeHint() const { return contentSizeHint(); }

void KelLineEdit::onSizeHintChanged() { updateTextMargins(); }

bool KelLineEdit::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::FocusIn:
        applyPasswordEcho();
        emit focused();
        break;
    case QEvent::FocusOut:
        applyPasswordEcho();
        emit focusLost();
        break;
    case QEvent::Move:
        updateSideWidgets();
        break;
    case QEvent::ParentChange:
        if (d->errorLabel)
            d->errorLabel->setParent(parentWidget());
        updateSideWidgets();
        break;
    default:
        break;
    }
    return QLineEdit::event(event);
}

void KelLineEdit::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() != Qt::NoButton) {
        QLineEdit::mouseMoveEvent(event);
        return;
    }
    QRect textArea = rect().marginsRemoved(margins() + borderWidths());
    textArea.setLeft(textArea.left() + iconPartWidth());
    textArea.setRight(textArea.right() - sideWidgetsWidth());
    setCursor(textArea.contains(event->pos()) ? Qt::IBeamCursor : Qt::ArrowCursor);
}

void KelLineEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel) && !text().isEmpty() && d->clearOnEscape && d->clearButton) {
        emit cancelPressed();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void KelLineEdit::paintEvent(QPaintEvent* event)
{
    {
        KelPaintContext context(this);
        drawFrame(context, d->stateAnimator);
    }
    QLineEdit::paintEvent(event);
    if (d->icon) {
        const QRect area = rect().marginsRemoved(margins() + borderWidths() + d->iconMargins);
        const QRect iconRect
            = KelUtils::alignRect(Qt::AlignLeft | Qt::AlignVCenter, area, d->icon->defaultSize(), true);
        const QColor first = d->iconColors.unchecked.normal;
        const QColor tint = first.isValid() ? blendStateColor(d->iconColors, d->stateAnimator) : first;
        QPainter painter(this);
        d->icon->paint(&painter, iconRect, Qt::AlignHCenter | Qt::AlignVCenter, QSize(), tint, d->stateAnimator);
    }
    if (KelPainting::dbgPaintKelPaintContext() || KelPainting::dbgPaintKelFrame()) {
        KelPaintContext context(this);
        if (KelPainting::dbgPaintKelFrame())
            context.drawFramePainterDiagnostics(this);
    }
}

void KelLineEdit::resizeEvent(QResizeEvent* event)
{
    setFrameSize(size());
    QWidget::resizeEvent(event);
    updateSideWidgets();
}
