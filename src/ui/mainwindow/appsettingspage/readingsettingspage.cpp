#include "readingsettingspage.h"

#include "enums.h"
#include "fillcombobox.h"
#include "mainwindow/readingpage/columncountselector.h"
#include "mainwindow/readingpage/fontfamilyselector.h"
#include "settingsprovider.h"
#include "styles/kelstyle.h"
#include "widgets/kelwidget.h"
#include "widgets/labeled.h"

#include <QCoreApplication>
#include <QMetaEnum>
#include <QVBoxLayout>

namespace {
const char* const kContext = "MainWindow_Settings_Reading";
const QLatin1String kOriginalFont("Original font");
} // namespace

class ReadingSettingsPage::Private {
public:
    ColumnCountSelector* columnCount = nullptr;
    LabeledComboBox* alignment = nullptr;
    FontFamilySelector* fontFamily = nullptr;
};

ReadingSettingsPage::ReadingSettingsPage(QWidget* parent)
    : AbstractSettingsPage(0, parent)
    , d(new Private)
{
    d->columnCount = new ColumnCountSelector(column(0));
    d->alignment = new LabeledComboBox(column(0));
    d->alignment->setObjectName(QStringLiteral("TextAlign"));
    d->fontFamily = new FontFamilySelector(column(0));
    columnLayout(0)->addWidget(d->columnCount, 0);
    columnLayout(0)->addWidget(d->alignment, 0);
    columnLayout(0)->addWidget(d->fontFamily, 0);
    columnLayout(0)->addStretch();
    column(0)->setMinimumWidth(kelStyle()->metric(1001));
    pageLayout()->addStretch(1);

    SettingsProvider* settings = SettingsProvider::instance();
    KelComboBox* alignment = d->alignment->editor();
    QList<Enums::TextAlignment> values;
    const QMetaEnum alignments = QMetaEnum::fromType<Enums::TextAlignment>();
    for (int i = 0; i < alignments.keyCount(); ++i)
        values << Enums::TextAlignment(alignments.value(i));
    fillComboBox(alignment, alignment->itemStyleRole(), values, KelComboBox::ClearCurrent);
    if (settings)
        alignment->setCurrentData(QVariant::fromValue(Enums::TextAlignment(settings->text_alignment())));
    // Connected after the selection: building the page writes nothing.
    connect(alignment, &KelComboBox::currentDataChanged, this, [](const QVariant& data) {
        if (SettingsProvider* settings = SettingsProvider::instance())
            settings->setText_alignment(int(data.value<Enums::TextAlignment>()));
    });

    // An unknown stored family shows as the book's own fonts; nothing is written until the user picks.
    const QStringList families = FontFamilySelector::fontFamilies();
    QString family = settings ? settings->font_family() : QString(kOriginalFont);
    if (!families.contains(family) && !families.isEmpty())
        family = families.first();
    d->fontFamily->editor()->setCurrentData(family);
    connect(d->fontFamily->editor(), &KelComboBox::currentDataChanged, this, [](const QVariant& data) {
        if (SettingsProvider* settings = SettingsProvider::instance())
            settings->setFont_family(data.toString());
    });
    setObjectName(QStringLiteral("Reading"));
}

ReadingSettingsPage::~ReadingSettingsPage()
{
    delete d;
    d = nullptr;
}

QString ReadingSettingsPage::title() const { return QCoreApplication::translate(kContext, "Reading settings"); }

void ReadingSettingsPage::retranslateUi()
{
    d->columnCount->label()->setText(settingsCaption(kContext, "Page view:"));
    d->columnCount->translateUi();
    d->alignment->label()->setText(settingsCaption(kContext, "Text align:"));
    d->fontFamily->label()->setText(settingsCaption(kContext, "Text Font:"));
    KelComboBox* alignment = d->alignment->editor();
    alignment->setItemText(
        QVariant::fromValue(Enums::OriginTextAlign), QCoreApplication::translate(kContext, "Original"));
    alignment->setItemText(QVariant::fromValue(Enums::LeftTextAlign), QCoreApplication::translate(kContext, "Left"));
    alignment->setItemText(QVariant::fromValue(Enums::RightTextAlign), QCoreApplication::translate(kContext, "Right"));
    alignment->setItemText(
        QVariant::fromValue(Enums::CenterTextAlign), QCoreApplication::translate(kContext, "Center"));
    alignment->setItemText(
        QVariant::fromValue(Enums::JustifyTextAlign), QCoreApplication::translate(kContext, "Justify"));
    d->fontFamily->editor()->setItemText(
        QString(kOriginalFont), QCoreApplication::translate(kContext, "Original font"));
}

ColumnCountSelector* ReadingSettingsPage::columnCountSelector() const { return d->columnCount; }

LabeledComboBox* ReadingSettingsPage::alignmentBox() const { return d->alignment; }

FontFamilySelector* ReadingSettingsPage::fontFamilySelector() const { return d->fontFamily; }
