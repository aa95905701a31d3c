#include "windows/kelpopupmenubutton.h"

#include "styles/kelstyle.h"
#include "utils/kelgeometryutils.h"
#include "windows/kelpopupmenu.h"

#include <QBoxLayout>
#include <QEvent>

namespace {
const int kPopupMenuType = 3;
} // namespace

class KelPopupMenuButton::Private {
public:
    KelPopupMenu* popup = nullptr;
    int mode = OpenOnToggle;
    Qt::Edge edge = Qt::BottomEdge;
    Qt::Alignment alignment = Qt::AlignLeft;
    bool offsetSet = false;
    QPoint offset;
};

KelPopupMenuButton::KelPopupMenuButton(
    int widgetType, int mode, Qt::Edge popupEdge, Qt::Alignment popupAlignment, QWidget* parent, bool deferStyle)
    : KelButton(widgetType, parent, true)
    , d(new Private)
{
    d->mode = mode;
    d->edge = popupEdge;
    d->alignment = popupAlignment;
    setCheckable(true);
    d->popup
        = new KelPopupMenu(kPopupMenuType, Qt::Vertical, this, KelWindow::ShadowType::Custom_D2D_Compatible, false);
    d->popup->addPassThroughWidget(this);
    d->popup->setObjectName(QStringLiteral("KelPopupButtonPopup"));
    connect(this, &QObject::objectNameChanged, d->popup,
        [this](const QString& name) { d->popup->setObjectName(name + QStringLiteral(" Popup")); });
    if (mode == OpenOnToggle) {
        connect(this, &KelButton::toggled, this, [this](bool checked) {
            if (checked)
                showPopup();
            else
                closePopup();
        });
    }
    connect(d->popup, &KelWidget::showed, this, [this] { setCheckedSilently(true); });
    connect(d->popup, &KelWidget::hided, this, [this] {
        setCheckedSilently(false);
        onPopupHidden();
    });
    connect(this, &KelWidget::hided, this, &KelPopupMenuButton::closePopup);
    if (!deferStyle)
        applyStyle();
}

KelPopupMenuButton::~KelPopupMenuButton() { delete d; }

KelPopupMenu* KelPopupMenuButton::popupMenu() const { return d->popup; }

int KelPopupMenuButton::mode() const { return d->mode; }

QPoint KelPopupMenuButton::popupOffset() const { return d->offset; }

void KelPopupMenuButton::setPopupOffset(int dx, int dy)
{
    d->offsetSet = true;
    d->offset = QPoint(dx, dy);
}

void KelPopupMenuButton::showPopup()
{
    if (d->popup->isVisible() || !isVisible() || !isEnabled())
        return;
    bool allow = true;
    adjustPopup(&allow);
    if (!allow)
        return;
    const QRect anchor = KelUtils::globalGeometry(this).marginsRemoved(margins());
    d->popup->showNextToRect(anchor, d->edge, d->alignment, true, d->offset, 0);
}

void KelPopupMenuButton::closePopup()
{
    if (d->popup->isVisible())
        d->popup->close();
}

bool KelPopupMenuButton::isPopupVisible() const { return d->popup->isVisible(); }

void KelPopupMenuButton::clearPopup()
{
    if (isVisible() && d->popup->isVisible())
        d->popup->close();
    QLayout* layout = d->popup->contentLayout();
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
}

void KelPopupMenuButton::applyStyle()
{
    if (!d->offsetSet) {
        if (inherits("KelComboBox")) {
            const QSize size = kelStyle()->size(1);
            d->offset = QPoint(size.width(), size.height());
        } else {
            const int m = kelStyle()->metric(10);
            d->offset = QPoint(-m, m);
        }
    }
    KelButton::applyStyle();
}

void KelPopupMenuButton::adjustPopup(bool*) { }

void KelPopupMenuButton::onPopupHidden() { }

bool KelPopupMenuButton::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        // Hover and sub-menu buttons never click or toggle themselves.
        if (d->mode != OpenOnToggle) {
            event->accept();
            return true;
        }
        break;
    case QEvent::Enter:
        if (d->mode == OpenOnHover)
            showPopup();
        break;
    default:
        break;
    }
    return KelButton::event(event);
}
