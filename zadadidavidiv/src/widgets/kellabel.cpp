#include "widgets/kellabel.h"

#include "animators/keldisabledstateanimator.h"
#include "painting/kelgraphicsopacityeffect.h"
#include "painting/kelpaintcontext.h"
#include "painting/kelpainting.h"
#include "styles/kelstyle.h"

#include <QFontMetrics>
#include <QPainter>
#include <QResizeEvent>
#include <QStyle>
#include <QTextDocument>

namespace {
// The title style: its labels elide their text on the right.
const int kElidingLabelType = 8;
} // namespace

class KelLabel::Private {
public:
    explicit Private(KelLabel* q)
        : q(q)
        , disabledAnimator(new KelDisabledStateAnimator(1, q))
    {
    }

    void clearMeasurement()
    {
        measuredText.clear();
        isElided = false;
    }

    KelLabel* q;
    KelDisabledStateAnimator* disabledAnimator;
    Qt::TextElideMode elideMode = Qt::ElideNone;
    QString elidedText;
    QString measuredText;
    bool isElided = false;
};

KelLabel::KelLabel(int widgetType, QWidget* parent)
    : QLabel(parent)
    , KelStyleable(widgetType)
    , d(new Private(this))
{
    d->disabledAnimator->setWidget(this);
    new KelGraphicsOpacityEffect(this);
    connect(d->disabledAnimator, &KelDisabledStateAnimator::disabledProgressChanged, this, [this] {
        if (auto* effect = qobject_cast<KelGraphicsOpacityEffect*>(graphicsEffect()))
            effect->setOpacity(d->disabledAnimator->opacity());
    });
    if (isStyled())
        applyStyle();
}

KelLabel::KelLabel(QWidget* parent)
    : KelLabel(7, parent)
{
}

KelLabel::~KelLabel() = default;

Qt::TextElideMode KelLabel::elideMode() const { return d->elideMode; }

void KelLabel::setElideMode(Qt::TextElideMode mode)
{
    if (d->elideMode == mode)
        return;
    d->elideMode = mode;
    QSizePolicy policy = sizePolicy();
    policy.setHorizontalPolicy(mode == Qt::ElideNone ? QSizePolicy::Preferred : QSizePolicy::Maximum);
    setSizePolicy(policy);
    d->clearMeasurement();
    updateGeometry();
    update();
}

bool KelLabel::isElided() const { return d->isElided; }

QString KelLabel::elidedText() const { return d->elidedText; }

QSize KelLabel::minimumSizeHint() const
{
    if (d->elideMode == Qt::ElideNone)
        return QLabel::minimumSizeHint();
    // Measured on the label's text rather than the last painted one, so the hint does not depend
    // on whether a paint has happened since the last resize.
    const QString full = text();
    QString shown = QStringLiteral("...");
    if (!full.isEmpty())
        shown.prepend(full.left(full.at(0).isHighSurrogate() ? 2 : 1));
    const QSize size = QFontMetrics(font()).size(0, shown);
    const QMargins margins = contentsMargins();
    return size + QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

void KelLabel::applyStyle()
{
    if (!isStyled())
        return;
    kelStyle()->applyLabelStyle(this, widgetType());
    if (widgetType() == kElidingLabelType)
        setElideMode(Qt::ElideRight);
}

void KelLabel::paintEvent(QPaintEvent* event)
{
    const bool labelDiagnostics = KelPainting::dbgPaintKelLabel();
    if (labelDiagnostics || KelPainting::dbgPaintKelPaintContext()) {
        KelPaintContext context(this);
        if (labelDiagnostics)
            context.drawDiagnosticContentsMargins(this);
    }

    const QString current = text();
    if (current != d->measuredText || d->measuredText.isEmpty()) {
        d->measuredText = current;
        d->isElided = false;
        const bool rich
            = textFormat() == Qt::RichText || (textFormat() == Qt::AutoText && Qt::mightBeRichText(current));
        if (d->elideMode != Qt::ElideNone && !rich) {
            d->elidedText = QFontMetrics(font()).elidedText(current, d->elideMode, contentsRect().width(), 0);
            d->isElided = d->elidedText != current;
        }
    }
    if (!d->isElided) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    style()->drawItemText(
        &painter, contentsRect(), alignment(), palette(), isEnabled(), d->elidedText, foregroundRole());
}

void KelLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    d->clearMeasurement();
}
