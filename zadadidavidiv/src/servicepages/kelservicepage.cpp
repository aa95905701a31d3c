#include "kelservicepage.h"

#include "layouts/kelflowlayout.h"
#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"

#include <QDebug>
#include <QFormLayout>
#include <QMetaObject>
#include <QPointF>
#include <QWidget>

KelServicePage::KelServicePage(QWidget* parent)
    : QScrollArea(parent)
{
    QFont pageFont = font();
    pageFont.setPixelSize(12);
    setFont(pageFont);

    auto* content = new QWidget(this);
    form = new QFormLayout(content);

    setFrameStyle(0);
    setWidget(content);
    setWidgetResizable(true);
    // The page shows the background of the window it sits in.
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
}

KelServicePage::~KelServicePage() = default;

KelFlowLayout* KelServicePage::addFlowRow(const QString& caption)
{
    auto* flow = new KelFlowLayout(nullptr, QMargins(0, 0, 0, 0), -1, -1);
    auto* label = new KelLabel(26);
    label->setText(caption);
    form->addRow(label, flow);
    return flow;
}

KelButton* KelServicePage::addButton(QLayout* layout, const QString& text, std::function<void()> action)
{
    auto* button = new KelButton(27, layout ? layout->parentWidget() : nullptr, false);
    button->setText(text);
    if (layout)
        layout->addWidget(button);
    QObject::connect(button, &KelButton::clicked, button, [action] {
        if (action)
            action();
    });
    return button;
}

KelButton* KelServicePage::addCheckBox(
    QLayout* layout, const QString& text, bool initialState, std::function<void(bool)> action)
{
    if (!layout)
        qWarning() << "check box" << text << "has no layout to go into";
    auto* button = new KelButton(13, layout ? layout->parentWidget() : nullptr, false);
    button->setText(text);
    button->setCheckedSilently(initialState);
    if (layout)
        layout->addWidget(button);
    QObject::connect(button, &KelButton::toggled, button, [action](bool checked) {
        if (action)
            action(checked);
    });
    return button;
}

QString describeObject(const QObject* object)
{
    if (!object)
        return QStringLiteral("QObject(0x0)");

    QString text = object->objectName();
    const QString address
        = QStringLiteral("0x%1").arg(reinterpret_cast<quintptr>(object), 4, 16, QLatin1Char('0')).toLower();
    const QString className = QString::fromLatin1(object->metaObject()->className());
    if (text.isEmpty())
        text += className + QLatin1Char('(') + address;
    else
        text += QLatin1Char('(') + className + QStringLiteral(", ") + address;

    if (object->isWidgetType()) {
        const QRect geometry = static_cast<const QWidget*>(object)->geometry();
        text += QStringLiteral(", x:%1, y:%2, w:%3, h: %4")
                    .arg(geometry.x())
                    .arg(geometry.y())
                    .arg(geometry.width())
                    .arg(geometry.height());
    }
    return text + QLatin1Char(')');
}

QString pointText(const QPointF& point)
{
    return QStringLiteral("[<b>%1</b>; <b>%2</b>]").arg(point.x(), 0, 'g', 6).arg(point.y(), 0, 'g', 6);
}
