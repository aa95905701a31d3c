#include "settingsbox.h"

#include "abstractviewer.h"
#include "bookcontext.h"
#include "bookpageparams.h"
#include "columncountselector.h"
#include "fontfamilyselector.h"
#include "linespacingselector.h"
#include "readingenums.h"
#include "styleselector.h"
#include "ui.h"
#include "utils/kellayoututils.h"
#include "utils/kelwidgettreeutils.h"
#include "widgets/kelbutton.h"
#include "widgets/kelcombobox.h"
#include "widgets/kellabel.h"
#include "widgets/kelscrollarea.h"
#include "widgets/kelslider.h"
#include "widgets/labeled.h"

#include <QCoreApplication>
#include <QVBoxLayout>

namespace {
constexpr int kSelectorFrameStyle = 1042;
constexpr int kFontSizeSliderStyle = 36;
constexpr int kLinkButtonStyle = 1010;
constexpr int kMinStep = 1;
constexpr int kMaxStep = 10;
const QString kOriginalFont = QStringLiteral("Original font");

QString trSettings(const char* text) { return QCoreApplication::translate("MainWindow_Reading_Settings", text); }

KelButton* linkButton(QWidget* parent)
{
    auto* button = new KelButton(kLinkButtonStyle, QStringLiteral(":/svg/arrow.svg"), parent);
    button->setIconPosition(Qt::RightEdge);
    return button;
}
}

int SettingsBox::lineSpacingPercent(int step) { return (qBound(kMinStep, step, kMaxStep) + 5) * 15; }

int SettingsBox::lineSpacingStep(int percent) { return (percent - 75) / 15; }

SettingsBox::SettingsBox(QWidget* parent)
    : ReadingSideBar(ReadingEnums::Settings, parent)
{
    setObjectName(QStringLiteral("Settings"));
    auto* scrollArea = new KelScrollArea(this);
    KelUtils::vBoxLayout(this)->addWidget(scrollArea);
    auto* content = new KelWidget(scrollArea);
    scrollArea->setWidget(content);
    scrollArea->setWidgetResizable(true);
    QVBoxLayout* contentLayout = KelUtils::vBoxLayout(content);

    auto* selectors = new KelFrame(kSelectorFrameStyle, content);
    auto* selectorLayout = new QVBoxLayout(selectors);
    selectorLayout->setSpacing(16);
    m_styleSelector = new StyleSelector(selectors);
    m_columnCountSelector = new ColumnCountSelector(selectors);
    m_fontFamilySelector = new FontFamilySelector(selectors);
    m_fontSize = new LabeledSlider(kFontSizeSliderStyle, selectors);
    m_fontSize->setObjectName(QStringLiteral("FontSize"));
    m_fontSize->editor()->setRange(BookPageParams::kMinFontSize, BookPageParams::kMaxFontSize);
    m_fontSize->layout()->setSpacing(3);
    m_lineSpacing = new LineSpacingSelector(selectors);
    m_lineSpacing->setRange(kMinStep, kMaxStep);
    for (QWidget* editor : std::initializer_list<QWidget*> {
             m_styleSelector, m_columnCountSelector, m_fontFamilySelector, m_fontSize, m_lineSpacing })
        selectorLayout->addWidget(editor);

    auto* buttons = new QVBoxLayout;
    buttons->setContentsMargins(24, 21, 24, 24);
    buttons->setSpacing(16);
    m_allSettings = linkButton(content);
    m_hotkeys = linkButton(content);
    buttons->addWidget(m_allSettings);
    buttons->addWidget(m_hotkeys);

    contentLayout->addWidget(selectors);
    contentLayout->addLayout(buttons);
    contentLayout->addStretch();

    connect(m_fontSize->editor(), &QAbstractSlider::valueChanged, this,
        [this](int value) { m_fontSize->valueLabel()->setText(QStringLiteral("%1px").arg(value)); });
    connect(m_allSettings, &KelButton::clicked, this, [this] {
        emit closeRequest();
        emit goToAppSettingsClicked();
    });
    connect(m_hotkeys, &KelButton::clicked, this, [this] {
        emit closeRequest();
        if (Ui* ui = Ui::instance())
            ui->showHotkeysDialog();
    });
}

QString SettingsBox::title() const { return trSettings("Settings"); }

QString SettingsBox::closeText() const { return trSettings("Close"); }

void SettingsBox::retranslateUi()
{
    m_styleSelector->label()->setText(trSettings("Theme:"));
    m_columnCountSelector->label()->setText(trSettings("Page view:"));
    m_fontFamilySelector->label()->setText(trSettings("Text Font:"));
    m_fontFamilySelector->editor()->setItemText(kOriginalFont, trSettings("Original font"));
    m_fontSize->label()->setText(trSettings("Font size:"));
    m_lineSpacing->setDecreaseText(trSettings("Decrease line spacing by one step"));
    m_lineSpacing->setIncreaseText(trSettings("Increase line spacing by one step"));
    m_allSettings->setText(trSettings("Open All Settings"));
    m_hotkeys->setText(trSettings("Show hotkeys"));
    m_styleSelector->translateUi();
    m_columnCountSelector->translateUi();
}

void SettingsBox::onBookContextChanged(QSharedPointer<BookContext> context)
{
    AbstractViewer* viewer = context->viewer();
    if (!viewer)
        return;
    const bool columns = viewer->supports(AbstractViewer::Feature::ColumnCountChange);
    const bool font = viewer->supports(AbstractViewer::Feature::FontChange);
    m_columnCountSelector->setVisible(columns);
    m_fontFamilySelector->setVisible(font);
    m_fontSize->setVisible(font);
    m_lineSpacing->setVisible(font);
    BookPageParams* params = context->pageParams();
    if (columns) {
        m_bookConnections << connect(params, &BookPageParams::columnCountChanged, this, &setClampedColumnCount);
        setClampedColumnCount(params->columnCount());
    }
    if (font) {
        m_bookConnections << connect(params, &BookPageParams::fontFamilyChanged, this, &SettingsBox::refresh);
        m_bookConnections << connect(params, &BookPageParams::lineSpacingChanged, this, &SettingsBox::refresh);
        m_bookConnections << connect(params, &BookPageParams::fontSizeChanged, this, &SettingsBox::refresh);
        m_bookConnections << connect(m_fontFamilySelector->editor(), &KelComboBox::currentDataChanged, params,
            [params](const QVariant& data) { params->setFontFamily(data.toString()); });
        m_bookConnections << connect(
            m_fontSize->editor(), &QAbstractSlider::valueChanged, params, &BookPageParams::setFontSize);
        m_bookConnections << connect(
            m_lineSpacing, &LineSpacingSelector::valueChanged, params,
            [params](int step) { params->setLineSpacing(lineSpacingPercent(step)); }, Qt::DirectConnection);
        refresh();
    }
    KelUtils::updateGeometriesRecursively(this);
}

void SettingsBox::refresh()
{
    BookContext* context = bookContext().data();
    if (!context)
        return;
    BookPageParams* params = context->pageParams();
    if (m_fontSize->editor()->value() != params->fontSize())
        m_fontSize->editor()->setValue(params->fontSize());
    m_lineSpacing->setValueSilently(lineSpacingStep(params->lineSpacing()));
    m_fontFamilySelector->editor()->setCurrentData(params->fontFamily());
}
