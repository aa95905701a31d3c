#include "sidebar.h"

#include "enums.h"
#include "kelui.h"
#include "styles/noisepainter.h"
#include "widgets/kelbutton.h"

#include <QCoreApplication>
#include <QPainter>
#include <QVBoxLayout>

SideBar::SideBar(QWidget* parent)
    : KelFrame(parent)
{
    setObjectName(QStringLiteral("SideBar"));
    setFixedWidth(220);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 88, 8, 8);
    layout->setSpacing(2);
    for (int category : { int(Enums::AllBooks), int(Enums::AppSettings) }) {
        auto* button = new KelButton(1034, this);
        button->setCheckable(true);
        button->setUncheckByClickBlocked(true);
        connect(button, &KelButton::clicked, this, [this, category] { check(category, true); });
        layout->addWidget(button);
        m_entries.append({ category, button });
    }
    layout->addStretch(1);
    m_serviceEntry = new KelButton(1034, this);
    connect(m_serviceEntry, &KelButton::clicked, this, &SideBar::showServiceModeWindowClicked);
    layout->addWidget(m_serviceEntry);
    KelUi* ui = KelUi::instance();
    m_serviceEntry->setVisible(ui && ui->isMaintenanceMode());
    if (ui)
        connect(ui, &KelUi::maintenanceModeStateChanged, m_serviceEntry, &QWidget::setVisible);
    translateUi();
}

SideBar::~SideBar() = default;

int SideBar::currentCategory() const { return m_current; }

void SideBar::setCurrentCategory(int category) { check(category, false); }

void SideBar::onFilterCategoryChanged(int category) { check(category, true); }

void SideBar::check(int category, bool emitClicked)
{
    bool known = false;
    for (const auto& entry : m_entries) {
        entry.second->setCheckedSilently(entry.first == category);
        known = known || entry.first == category;
    }
    m_current = known ? category : -1;
    if (emitClicked && known)
        emit categoryClicked(category);
}

KelButton* SideBar::entry(int category) const
{
    for (const auto& entry : m_entries) {
        if (entry.first == category)
            return entry.second;
    }
    return nullptr;
}

KelButton* SideBar::serviceEntry() const { return m_serviceEntry; }

void SideBar::setPlainBackground(bool plain)
{
    if (plain == m_plain)
        return;
    m_plain = plain;
    if (plain)
        removeEventFilter(NoisePainter::instance());
    else
        installEventFilter(NoisePainter::instance());
    update();
}

bool SideBar::isPlainBackground() const { return m_plain; }

void SideBar::setBackgroundColor(const QColor& color)
{
    m_background = color;
    update();
}

QColor SideBar::backgroundColor() const { return m_background; }

void SideBar::translateUi()
{
    entry(Enums::AllBooks)->setText(QCoreApplication::translate("MainWindow_SideBar", "All books"));
    entry(Enums::AppSettings)->setText(QCoreApplication::translate("MainWindow_SideBar", "Settings"));
    m_serviceEntry->setText(QCoreApplication::translate("MainWindow_SideBar", "Service mode"));
}

void SideBar::paintEvent(QPaintEvent* event)
{
    if (m_background.isValid() && m_background.alpha() > 0) {
        QPainter painter(this);
        painter.fillRect(rect(), m_background);
    }
    KelFrame::paintEvent(event);
}
