#include "hotkeyssettingspage.h"

#include "layouts/kelflowlayout.h"
#include "widgets/keliconlabel.h"
#include "widgets/kellabel.h"
#include "widgets/kelscrollarea.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QMap>
#include <QMetaEnum>
#include <cmath>

namespace {

// A caption-style text between keys or sequences.
class Separator : public KelLabel {
public:
    Separator(const QString& text, QWidget* parent)
        : KelLabel(1052, parent)
    {
        setText(text);
    }
};

// One sequence: a frame around one key cap per key.
class SequenceBox : public KelIconLabel {
public:
    SequenceBox(const QKeySequence& sequence, QWidget* parent)
        : KelIconLabel(1041, parent)
    {
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(3, 3, 3, 3);
        layout->setSpacing(0);
        // The caps are the content: a text of the frame's own would be drawn under them.
        setAccessibleName(sequence.toString(QKeySequence::NativeText));
        const QStringList keys = HotkeysSettingsPage::keyCaps(sequence);
        for (int i = 0; i < keys.size(); ++i) {
            if (i > 0)
                layout->addWidget(new Separator(QStringLiteral(" + "), this), 0, Qt::AlignVCenter);
            auto* cap = new KelIconLabel(1040, this);
            cap->setText(keys.at(i));
            layout->addWidget(cap);
        }
    }
    // The caps laid out, not the frame's own text.
    QSize sizeHint() const override { return QWidget::sizeHint(); }
};

// All sequences of one action, comma-separated.
class SequencesBox : public QWidget {
public:
    SequencesBox(const QList<QKeySequence>& sequences, QWidget* parent)
        : QWidget(parent)
    {
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        for (int i = 0; i < sequences.size(); ++i) {
            if (i > 0)
                layout->addWidget(new Separator(QStringLiteral(" , "), this));
            layout->addWidget(new SequenceBox(sequences.at(i), this));
        }
        layout->addStretch();
    }
};

} // namespace

class HotkeysSettingsPage::Private {
public:
    QFormLayout* left = nullptr;
    QFormLayout* right = nullptr;
    QMap<Hotkeys::Id, KelLabel*> labels;
};

HotkeysSettingsPage::HotkeysSettingsPage(bool scrollable, QWidget* parent)
    : AbstractSettingsPage(-1, parent)
    , d(new Private)
{
    if (scrollable) {
        auto* area = new KelScrollArea(this);
        auto* content = new QWidget;
        area->setWidget(content);
        area->setWidgetResizable(true);
        pageLayout()->addWidget(area);
        pageLayout()->setContentsMargins(0, 0, 0, 0);
        auto* leftWidget = new QWidget(content);
        auto* rightWidget = new QWidget(content);
        d->left = new QFormLayout(leftWidget);
        d->right = new QFormLayout(rightWidget);
        auto* flow = new KelFlowLayout(content, QMargins(), -1, -1);
        flow->setContentsMargins(24, 24, 24, 24);
        flow->addWidget(leftWidget);
        flow->addWidget(rightWidget);
    } else {
        pageLayout()->setSpacing(40);
        d->left = new QFormLayout;
        d->right = new QFormLayout;
        pageLayout()->addLayout(d->left);
        pageLayout()->addLayout(d->right);
    }
    d->left->setVerticalSpacing(8);
    d->right->setVerticalSpacing(8);

    QList<Hotkeys::Id> listed;
    const QMetaEnum ids = QMetaEnum::fromType<Hotkeys::Id>();
    for (int i = 0; i < ids.keyCount(); ++i) {
        const auto id = Hotkeys::Id(ids.value(i));
        if (Hotkeys::sequences(id).isEmpty() || Hotkeys::title(id).isEmpty())
            continue;
        listed << id;
        d->labels.insert(id, new KelLabel(1052, this));
    }
    const int half = int(std::ceil(listed.size() * 0.5));
    for (int i = 0; i < listed.size(); ++i) {
        const Hotkeys::Id id = listed.at(i);
        auto* box = new SequencesBox(Hotkeys::sequences(id), this);
        (i < half ? d->left : d->right)->addRow(d->labels.value(id), box);
    }
    setObjectName(QStringLiteral("Hotkeys"));
}

HotkeysSettingsPage::~HotkeysSettingsPage()
{
    delete d;
    d = nullptr;
}

QString HotkeysSettingsPage::title() const
{
    return QCoreApplication::translate("MainWindow_Settings_Hotkeys", "Hotkeys");
}

void HotkeysSettingsPage::retranslateUi()
{
    for (auto it = d->labels.cbegin(); it != d->labels.cend(); ++it)
        it.value()->setText(Hotkeys::title(it.key()));
}

QFormLayout* HotkeysSettingsPage::leftForm() const { return d->left; }

QFormLayout* HotkeysSettingsPage::rightForm() const { return d->right; }

QStringList HotkeysSettingsPage::keyCaps(const QKeySequence& sequence)
{
    const QString text = sequence.toString(QKeySequence::PortableText);
    if (text == QLatin1String("+"))
        return { text };
    QStringList keys = text.split(QLatin1Char('+'), Qt::SkipEmptyParts, Qt::CaseSensitive);
    if (text.contains(QLatin1String("++")))
        keys << QStringLiteral("+");
    return keys;
}
