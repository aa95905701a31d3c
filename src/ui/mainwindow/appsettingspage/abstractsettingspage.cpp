#include "abstractsettingspage.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QVBoxLayout>

AbstractSettingsPage::AbstractSettingsPage(int lastColumn, QWidget* parent)
    : KelWidget(parent)
{
    m_pageLayout = new QHBoxLayout(this);
    m_pageLayout->setContentsMargins(24, 24, 24, 24);
    m_pageLayout->setSpacing(24);
    for (int i = 0; i <= lastColumn; ++i) {
        auto* column = new KelWidget(this);
        column->setObjectName(QStringLiteral("Column %1").arg(i));
        m_pageLayout->addWidget(column, 0);
        m_columns << column;
        auto* layout = new QVBoxLayout(column);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(16);
        m_columnLayouts << layout;
    }
}

AbstractSettingsPage::~AbstractSettingsPage() = default;

KelWidget* AbstractSettingsPage::column(int index) const { return m_columns.value(index); }

QVBoxLayout* AbstractSettingsPage::columnLayout(int index) const { return m_columnLayouts.value(index); }

QString settingsCaption(const char* context, const char* text)
{
    return QCoreApplication::translate(context, text).remove(QLatin1Char(':'));
}
