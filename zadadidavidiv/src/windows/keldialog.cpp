#include "windows/keldialog.h"

#include "eventloops/nestedloop.h"
#include "widgets/kelbutton.h"
#include "widgets/kelframe.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDebug>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMap>
#include <QPointer>

namespace {
const char* const kButtonIndexProperty = "KELPROP_ButtonIndex";
} // namespace

// Waits for a minimised parent window to come back, through its show and state-change events.
class KelDialogParentWait : public QObject {
public:
    KelDialogParentWait(KelDialog* dialog, QWidget* parentWindow)
        : QObject(dialog)
        , m_dialog(dialog)
        , m_parent(parentWindow)
    {
        parentWindow->installEventFilter(this);
    }
    ~KelDialogParentWait() override
    {
        if (m_parent)
            m_parent->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const bool back = (event->type() == QEvent::Show || event->type() == QEvent::WindowStateChange) && m_parent
            && m_parent->isVisible() && !m_parent->isMinimized();
        if (watched == m_parent && back) {
            KelDialog* dialog = m_dialog;
            deleteLater();
            m_parent->removeEventFilter(this);
            m_parent = nullptr;
            dialog->showWithStrategy(KelWindow::ShowStrategy::CenteredOnParent);
        }
        return false;
    }

private:
    KelDialog* m_dialog;
    QPointer<QWidget> m_parent;
};

class KelDialog::Private {
public:
    QPointer<QEventLoop> loop;
    int defaultButtonId = 0;
    int result = 0;
    QMap<int, QPointer<QWidget>> buttons;
    KelFrame* content = nullptr;
    KelFrame* footer = nullptr;
    QPointer<KelDialogParentWait> parentWait;

    void dropWait() { delete parentWait.data(); }
};

KelDialog::KelDialog(int widgetType, WindowParams params, QWidget* parent, ShadowType shadowType, bool deferStyle)
    : KelWindow(widgetType, params | Movable | TitleBar, parent, shadowType, true, QString())
    , d(new Private)
{
    setWindowModality(Qt::WindowModal);
    setNeedsOwner(true);
    QWidget* central = centralWidget();
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    d->content = new KelFrame(central);
    d->content->setObjectName(QStringLiteral("KelDialogContent"));
    d->footer = new KelFrame(central);
    d->footer->setObjectName(QStringLiteral("KelFooter"));
    d->footer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    auto* row = qobject_cast<QHBoxLayout*>(d->footer->layout());
    if (!row)
        row = new QHBoxLayout(d->footer);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addStretch();
    column->addWidget(d->content);
    column->addWidget(d->footer);
    if (!deferStyle)
        applyStyle();
}

KelDialog::KelDialog(QWidget* parent, ShadowType shadowType, bool deferStyle)
    : KelDialog(1, TitleBar, parent, shadowType, deferStyle)
{
}

KelDialog::~KelDialog()
{
    if (d->loop)
        d->loop->quit();
    delete d;
}

int KelDialog::exec(ShowStrategy strategy)
{
    if (d->loop)
        return 0;
    const bool deleteOnClose = testAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_DeleteOnClose, false);
    d->result = 0;
    showWhenParentVisible(strategy);
    if (QGuiApplication::mouseButtons() != Qt::NoButton) {
        qCritical() << "There are pressed mouse buttons on dialog exec:" << QGuiApplication::mouseButtons();
        qCritical() << "Please dont exec dialogs from mousePress() or mouseDoubleClick() event handlers!";
        qCritical() << "Because mouseRelease can go to wrong window and internal QGuiApplicaktion::mouse_buttons "
                       "state can get wrong state";
    }
    QPointer<KelDialog> guard(this);
    // Hand-overs and other posted work that could delete this box's caller wait until it is answered.
    NestedLoop::Scope scope;
    QEventLoop loop;
    d->loop = &loop;
    loop.exec(QEventLoop::DialogExec);
    if (!guard)
        return 0;
    d->loop = nullptr;
    const int result = d->result;
    if (deleteOnClose)
        delete this;
    return result;
}

void KelDialog::showWhenParentVisible(ShowStrategy strategy)
{
    d->dropWait();
    QWidget* parentWindow = parentWidget() ? parentWidget()->window() : nullptr;
    // Only a minimised parent is waited for: a hidden one is shown by the centring, and a wait for a
    // show that never comes would hang the caller of exec().
    if (qobject_cast<KelWindow*>(parentWindow) && parentWindow->isMinimized()) {
        QApplication::alert(parentWindow, 0);
        d->parentWait = new KelDialogParentWait(this, parentWindow);
        return;
    }
    showWithStrategy(strategy);
}

void KelDialog::done(int result)
{
    d->result = result;
    close();
}

QWidget* KelDialog::addButton(int id, QWidget* button, bool isDefault, bool insertFirst)
{
    QBoxLayout* row = footerLayout();
    if (!row || !button)
        return nullptr;
    button->setProperty(kButtonIndexProperty, id);
    if (insertFirst)
        row->insertWidget(0, button);
    else
        row->addWidget(button);
    d->buttons.insert(id, button);
    if (isDefault && d->defaultButtonId == 0)
        d->defaultButtonId = id;
    if (auto* kelButton = qobject_cast<KelButton*>(button)) {
        connect(kelButton, &KelButton::clicked, this,
            [this, kelButton] { done(kelButton->property(kButtonIndexProperty).toInt()); });
    }
    return button;
}

QWidget* KelDialog::button(int id) const { return d->buttons.value(id); }

QWidget* KelDialog::defaultButton() const { return d->defaultButtonId ? button(d->defaultButtonId) : nullptr; }

int KelDialog::defaultButtonId() const { return d->defaultButtonId; }

bool KelDialog::isExecuting() const { return d->loop; }

KelFrame* KelDialog::contentWidget() const { return d->content; }

KelFrame* KelDialog::footerWidget() const { return d->footer; }

QBoxLayout* KelDialog::footerLayout() const { return qobject_cast<QBoxLayout*>(d->footer->layout()); }

void KelDialog::setVisible(bool visible)
{
    if (!visible)
        d->dropWait();
    KelWindow::setVisible(visible);
}

bool KelDialog::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && d->defaultButtonId) {
            // A disabled default button (an empty field that must be filled) is not pressed by Enter.
            QWidget* defaultWidget = defaultButton();
            if (!defaultWidget || defaultWidget->isEnabled())
                done(d->defaultButtonId);
            event->accept();
            return true;
        }
        if (key->matches(QKeySequence::Cancel)) {
            done(0);
            event->accept();
            return true;
        }
        break;
    }
    case QEvent::Hide:
        if (d->loop && !((windowParams() & MinimizeButton) && isMinimized()))
            d->loop->exit(0);
        break;
    case QEvent::Close:
        d->dropWait();
        break;
    default:
        break;
    }
    return KelWindow::event(event);
}
