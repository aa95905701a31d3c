#include "widgets/kelplaintextedit.h"

#include "animators/kelwidgetstateanimator.h"
#include "eventfilters/kelqmenustyler.h"
#include "painting/kelpaintcontext.h"
#include "styles/kelstyle.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTextDocument>
#include <QTimer>

namespace {
// The style sheet role of the edit's context menus.
const int kMenuStyleRole = 40;
// The narrowest text width an auto-height edit measures with.
const int kMinimumTextWidth = 10;
} // namespace

class KelPlainTextEdit::Private {
public:
    bool autoHeight = false;
    KelWidgetStateAnimator* stateAnimator = nullptr;
    QMetaObject::Connection documentSizeConnection;
};

KelPlainTextEdit::KelPlainTextEdit(int widgetType, QWidget* parent)
    : QPlainTextEdit(parent)
    , KelFramePainter(this)
    , KelStyleable(widgetType)
    , d(new Private)
{
    viewport()->setAttribute(Qt::WA_Hover);
    setFrameStyle(QFrame::NoFrame);
    viewport()->setAutoFillBackground(false);
    document()->setDocumentMargin(0);
    new KelQMenuStyler(horizontalScrollBar(), kMenuStyleRole);
    new KelQMenuStyler(verticalScrollBar(), kMenuStyleRole);
    new KelQMenuStyler(viewport(), kMenuStyleRole);
    d->stateAnimator = new KelWidgetStateAnimator(2, this);
    d->stateAnimator->setWidget(this);
    connect(this, &QPlainTextEdit::textChanged, this, [this] { emit plainTextChanged(text()); });
    for (QScrollBar* bar : { horizontalScrollBar(), verticalScrollBar() })
        connect(bar, &QScrollBar::rangeChanged, this, &KelPlainTextEdit::placeScrollBars, Qt::QueuedConnection);
    if (isStyled())
        applyStyle();
}

KelPlainTextEdit::~KelPlainTextEdit() = default;

void KelPlainTextEdit::setText(const QString& text)
{
    if (text != this->text())
        setPlainText(text);
}

QString KelPlainTextEdit::text() const
{
    QString text = document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}

void KelPlainTextEdit::setTextSilently(const QString& text)
{
    const bool wasBlocked = blockSignals(true);
    setText(text);
    blockSignals(wasBlocked);
}

bool KelPlainTextEdit::autoHeight() const { return d->autoHeight; }

void KelPlainTextEdit::setAutoHeight(bool on)
{
    if (d->autoHeight == on)
        return;
    d->autoHeight = on;
    if (on) {
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        d->documentSizeConnection = connect(document()->documentLayout(),
            &QAbstractTextDocumentLayout::documentSizeChanged, this, [this] { updateGeometry(); });
    } else {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        disconnect(d->documentSizeConnection);
    }
    updateGeometry();
}

KelWidgetStateAnimator* KelPlainTextEdit::stateAnimator() const { return d->stateAnimator; }

QSize KelPlainTextEdit::minimumSizeHint() const
{
    if (!d->autoHeight)
        return QPlainTextEdit::minimumSizeHint();
    const int lineSpacing = QFontMetrics(document()->defaultFont()).lineSpacing();
    return QSize(QAbstractScrollArea::minimumSizeHint().width(), KelFramePainter::sizeHint().height() + lineSpacing);
}

int KelPlainTextEdit::heightForWidth(int width) const
{
    if (!d->autoHeight)
        return -1;
    const QSize frameSize = KelFramePainter::minimumSizeHint();
    // Measured on a copy so the edit's own layout and cursor are left alone.
    QScopedPointer<QTextDocument> copy(document()->clone());
    copy->setDefaultFont(document()->defaultFont());
    copy->setDocumentMargin(document()->documentMargin());
    copy->setTextWidth(qMax(width - frameSize.width(), kMinimumTextWidth));
    return frameSize.height() + qRound(copy->size().height());
}

bool KelPlainTextEdit::hasHeightForWidth() const { return d->autoHeight; }

void KelPlainTextEdit::setPaddings(const QMargins& paddings)
{
    KelFramePainter::setPaddings(paddings);
    setViewportMargins(paddings);
}

void KelPlainTextEdit::applyStyle()
{
    if (isStyled())
        kelStyle()->applyPlainTextEditStyle(this, widgetType());
}

bool KelPlainTextEdit::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        // One repaint per burst of typed keys.
        setUpdatesEnabled(false);
        QTimer::singleShot(0, this, [this] { setUpdatesEnabled(true); });
        break;
    case QEvent::FocusOut:
        emit focusLost();
        break;
    case QEvent::Paint: {
        KelPaintContext context(this);
        KelFramePainter::drawFrame(context, d->stateAnimator);
        break;
    }
    case QEvent::Resize: {
        const bool result = QPlainTextEdit::event(event);
        setFrameSize(size());
        placeScrollBars();
        return result;
    }
    case QEvent::LayoutRequest: {
        const bool result = QPlainTextEdit::event(event);
        placeScrollBars();
        return result;
    }
    default:
        break;
    }
    return QPlainTextEdit::event(event);
}

void KelPlainTextEdit::onSizeHintChanged() { updateGeometry(); }

void KelPlainTextEdit::placeScrollBars()
{
    const QMargins box = boxMargins();
    QWidget* h = horizontalScrollBar()->parentWidget();
    QWidget* v = verticalScrollBar()->parentWidget();
    // The containers are the area's own children; anything else means the bars were reparented.
    if (!h || !v || h == this || v == this)
        return;
    const bool hVisible = h->isVisible();
    const bool vVisible = v->isVisible();
    if (hVisible) {
        h->setGeometry(box.left(), height() - box.bottom() - h->height(),
            width() - box.right() - box.left() - (vVisible ? v->width() : 0), h->height());
    }
    if (vVisible) {
        v->setGeometry(width() - box.right() - v->width(), box.top(), v->width(),
            height() - box.bottom() - box.top() - (hVisible ? h->height() : 0));
    }
}
