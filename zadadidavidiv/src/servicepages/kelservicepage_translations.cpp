#include "kelservicepage_translations.h"

#include "kelapplication.h"
#include "kelsettings.h"
#include "keltranslator.h"
#include "widgets/kellabel.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QTableView>

namespace {
KelLabel* label(const QString& text)
{
    auto* result = new KelLabel(7);
    result->setText(text);
    return result;
}
} // namespace

KelServicePage_Translations::KelServicePage_Translations(QWidget* parent)
    : KelServicePage(parent)
{
    const QLocale system = QLocale::system();
    auto* left = new QFormLayout;
    left->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    left->setVerticalSpacing(10);
    left->addRow(label(QStringLiteral("<b>System Info:</b>")), new QWidget);
    left->addRow(label(QStringLiteral("System locale name:")), label(system.name()));
    left->addRow(label(QStringLiteral("System UI languages:")), label(system.uiLanguages().join(QStringLiteral(", "))));
    left->addRow(label(QStringLiteral("System locale bcp47:")), label(system.bcp47Name()));

    KelApplication* app = KelApplication::instance();
    KelSettings* settings = app ? app->settings() : nullptr;
    KelLabel* selected = label(settings ? settings->localeName() : QString());
    if (settings)
        connect(settings, &KelSettings::localeNameChanged, selected, &QLabel::setText);

    auto* right = new QFormLayout;
    right->addRow(label(QStringLiteral("<b>User Info:</b>")), new QWidget);
    right->addRow(label(QStringLiteral("Initial locale name:")), label(KelSettings::defaultLocaleName()));
    right->addRow(label(QStringLiteral("Selected locale name:")), selected);
    right->addRow(QStringLiteral(" "), new KelLabel(7));

    auto* columns = new QHBoxLayout;
    columns->setSpacing(20);
    columns->addLayout(left);
    columns->addLayout(right);
    columns->addStretch(1);
    form->addRow(columns);

    form->addRow(label(QStringLiteral("<b>Translator model:</b>")));

    auto* table = new QTableView;
    if (KelTranslator* translator = app ? app->translator() : nullptr)
        table->setModel(translator);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    form->addRow(table);

    setObjectName(QStringLiteral("Translations"));
}

KelServicePage_Translations::~KelServicePage_Translations() = default;
