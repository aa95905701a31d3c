#include "startupsplash.h"

#include "kelapplication.h"
#include "metroprogressbar.h"
#include "windows/kelsplash.h"

#include <QLabel>
#include <QVBoxLayout>

namespace {

const char* const kTextName = "StartupSplashText";

} // namespace

void showStartupSplash(int minimumDisplayTimeMs, bool showMainWindowWhenDone)
{
    auto* app = KelApplication::instance();
    if (!app)
        return;
    KelSplash* splash
        = app->showSplash(QStringLiteral(":/splash.svg"), minimumDisplayTimeMs, 0, 0, 0, QStringLiteral("Segoe UI"), 24,
            showMainWindowWhenDone, QPoint(0, 0), QPoint(40, 124), QColor(Qt::transparent), QColor(Qt::white));
    if (!splash)
        return;
    auto* layout = new QVBoxLayout(splash);
    layout->addStretch(1);
    auto* dots = new MetroProgressBar(splash);
    dots->setColor(Qt::white);
    dots->setDotRadius(4.25);
    dots->setState(KelProgressBar::Indeterminate);
    layout->setContentsMargins(80, 0, 80, 22);
    auto* text = new QLabel(splash);
    text->setObjectName(QLatin1String(kTextName));
    text->setTextFormat(Qt::PlainText);
    text->setAlignment(Qt::AlignCenter);
    text->setStyleSheet(QStringLiteral("color: white; font-size: 15px;"));
    text->hide();
    layout->addWidget(text);
    layout->addWidget(dots);
}

void setStartupSplashText(const QString& text)
{
    auto* app = KelApplication::instance();
    QWidget* splash = app ? app->splashWindow() : nullptr;
    auto* label = splash ? splash->findChild<QLabel*>(QLatin1String(kTextName)) : nullptr;
    if (!label)
        return;
    label->setText(text);
    label->setVisible(!text.isEmpty());
}
