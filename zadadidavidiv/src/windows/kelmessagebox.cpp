#include "windows/kelmessagebox.h"

#include "styles/kelstyle.h"
#include "widgets/kelframe.h"
#include "widgets/keliconwidget.h"
#include "widgets/kellabel.h"

#include <QBoxLayout>
#include <QLineEdit>
#include <QPointer>

namespace {
const int kMessageLabelType = 9;
const int kIconBesideTextMetric = 6;
} // namespace

class KelMessageBox::Private {
public:
    QVBoxLayout* contentLayout = nullptr;
    QBoxLayout* messageLayout = nullptr;
    KelIconWidget* icon = nullptr;
    KelLabel* message = nullptr;
};

KelMessageBox::KelMessageBox(QWidget* parent, bool deferStyle)
    : KelDialog(2, Movable, parent, ShadowType::Default, true)
    , d(new Private)
{
    const bool beside = kelStyle()->metric(kIconBesideTextMetric) == 1;
    if (beside)
        d->messageLayout = new QHBoxLayout;
    else
        d->messageLayout = new QVBoxLayout;
    QWidget* content = contentWidget();
    d->contentLayout = qobject_cast<QVBoxLayout*>(content->layout());
    if (!d->contentLayout) {
        delete content->layout();
        d->contentLayout = new QVBoxLayout(content);
        d->contentLayout->setContentsMargins(0, 0, 0, 0);
        d->contentLayout->setSpacing(0);
    }
    d->contentLayout->addLayout(d->messageLayout, 0);
    d->messageLayout->setContentsMargins(0, 0, 0, 0);
    d->messageLayout->setSpacing(0);
    d->icon = new KelIconWidget(this);
    d->icon->setVisible(false);
    if (beside)
        d->messageLayout->addWidget(d->icon);
    else
        d->messageLayout->addWidget(d->icon, 0, Qt::AlignHCenter);
    d->message = new KelLabel(kMessageLabelType, this);
    d->messageLayout->addWidget(d->message, 1);
    d->messageLayout->addStretch();

    setObjectName(QStringLiteral("KelMessageBox"));
    d->contentLayout->setObjectName(QStringLiteral("KelContentLayout"));
    d->messageLayout->setObjectName(QStringLiteral("KelMessageLayout"));
    d->icon->setObjectName(QStringLiteral("KelIcon"));
    d->message->setObjectName(QStringLiteral("KelMessage"));
    if (!deferStyle)
        KelWindow::applyStyle();
}

KelMessageBox::~KelMessageBox() { delete d; }

void KelMessageBox::setText(const QString& text) { d->message->setText(text); }

void KelMessageBox::setIcon(const QString& iconName)
{
    d->icon->setIcon(iconName);
    d->icon->setVisible(!iconName.isEmpty());
}

void KelMessageBox::addContentWidget(QWidget* widget, bool keepDefaultButtonEnabled)
{
    if (!widget)
        return;
    d->contentLayout->addWidget(widget);
    auto* edit = qobject_cast<QLineEdit*>(widget);
    if (keepDefaultButtonEnabled || !edit)
        return;
    const auto follow = [this](const QString& text) {
        if (QWidget* button = defaultButton())
            button->setEnabled(!text.isEmpty());
    };
    connect(edit, &QLineEdit::textChanged, this, follow);
    // The field may start empty: the rule holds from the start, not only after the first edit.
    follow(edit->text());
}

KelLabel* KelMessageBox::messageLabel() const { return d->message; }

KelIconWidget* KelMessageBox::iconWidget() const { return d->icon; }

QBoxLayout* KelMessageBox::messageLayout() const { return d->messageLayout; }

QVBoxLayout* KelMessageBox::contentLayout() const { return d->contentLayout; }

void KelMessageBox::setMessageSpacing(int spacing) { d->messageLayout->setSpacing(spacing); }
