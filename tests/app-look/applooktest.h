#pragma once

#include "../kel-effects/messagecatcher.h"
#include "../kelapp/kelapptest.h"

#include "kelapplication.h"
#include "styles/animatedicons.h"
#include "styles/daystyle.h"
#include "styles/kelstylemanager.h"
#include "styles/nightstyle.h"
#include "styles/sepiastyle.h"

#include <QImage>
#include <QWidget>

// The three profiles, registered with the toolkit's style manager the way the application does it.
class Profiles {
public:
    Profiles()
    {
        KelStyleManager* manager = KelStyleManager::instance();
        manager->addStyle(&day);
        manager->addStyle(&night);
        manager->addStyle(&sepia);
        manager->setCurrentStyle(day.id());
        AnimatedIcons::registerIcons();
    }
    static void use(const QString& id) { QVERIFY(KelStyleManager::instance()->setCurrentStyle(id)); }

    DayStyle day;
    NightStyle night;
    SepiaStyle sepia;
};

// A host with a solid magenta background, so that what a child leaves unpainted is recognisable.
class Host : public QWidget {
public:
    Host()
    {
        QPalette palette;
        palette.setColor(QPalette::Window, QColor(Qt::magenta));
        setPalette(palette);
        setAutoFillBackground(true);
    }
    QImage image() { return grab().toImage(); }
};

inline bool near(const QColor& a, const QColor& b, int tolerance = 8)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

#define VERIFY_NEAR(actual, expected)                                                                                  \
    QVERIFY2(near((actual), (expected)),                                                                               \
        qPrintable(QStringLiteral("%1 is not near %2").arg((actual).name(QColor::HexArgb), (expected).name())))
