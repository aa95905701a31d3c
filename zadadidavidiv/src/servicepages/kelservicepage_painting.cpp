#include "kelservicepage_painting.h"

#include "kelapplication.h"
#include "kelsettings.h"
#include "painting/kelpainting.h"
#include "widgets/kellabel.h"

#include <QDebug>
#include <QFormLayout>
#include <QVBoxLayout>

namespace {

struct PaintSwitch {
    const char* caption; // null: the switch joins the row above
    const char* text;
    const char* key;
    bool (*get)();
    void (*set)(bool);
};

const PaintSwitch paintSwitches[] = {
    { "DPI mismatch:", "KelPaintContext (draw 1 screen pixel corners)", "DbgPaintKelPaintContext",
        KelPainting::dbgPaintKelPaintContext, KelPainting::setDbgPaintKelPaintContext },
    { "KelFramePainter:", "KelFramePainter (KelFrame, KelLineEdit, KelSpinBox etc, KelButton's frame)",
        "DbgPaintKelFrame", KelPainting::dbgPaintKelFrame, KelPainting::setDbgPaintKelFrame },
    { nullptr, "KelButtonPainter (KelButton's content (text, icon, arrow))", "DbgPaintKelButton",
        KelPainting::dbgPaintKelButton, KelPainting::setDbgPaintKelButton },
    { "Static widgets:", "KelLabel", "DbgPaintKelLabel", KelPainting::dbgPaintKelLabel,
        KelPainting::setDbgPaintKelLabel },
    { nullptr, "DbgPaintKelIconWidget", "DbgPaintKelIconWidget", KelPainting::dbgPaintKelIconWidget,
        KelPainting::setDbgPaintKelIconWidget },
    { nullptr, "KelDelimiter", "DbgPaintKelDelimiter", KelPainting::dbgPaintKelDelimiter,
        KelPainting::setDbgPaintKelDelimiter },
    { "Window decorations:", "Non-DWM Resizer", "DbgPaintNonDwmResizer", KelPainting::dbgPaintNonDwmResizer,
        KelPainting::setDbgPaintNonDwmResizer },
    { nullptr, "Non-DWM Shadow (comboboxes, old windows theme w/o DWM)", "DbgPaintNonDwmShadow",
        KelPainting::dbgPaintNonDwmShadow, KelPainting::setDbgPaintNonDwmShadow },
    { "Other:", "App specific custom widgets", "DbgPaintCustom", KelPainting::dbgPaintCustom,
        KelPainting::setDbgPaintCustom },
};

KelSettings* appSettings()
{
    KelApplication* app = KelApplication::instance();
    return app ? app->settings() : nullptr;
}

} // namespace

KelServicePage_Painting::KelServicePage_Painting(QWidget* parent)
    : KelServicePage(parent)
{
    KelSettings* settings = appSettings();
    if (!settings)
        qWarning() << "no application settings: the paint diagnostics are neither restored nor saved";
    for (const PaintSwitch& entry : paintSwitches)
        entry.set(settings ? settings->value(QLatin1String(entry.key), false).toBool() : false);

    QVBoxLayout* column = nullptr;
    for (const PaintSwitch& entry : paintSwitches) {
        if (entry.caption) {
            auto* caption = new KelLabel(26);
            caption->setText(QLatin1String(entry.caption));
            column = new QVBoxLayout;
            form->addRow(caption, column);
        }
        const PaintSwitch* flag = &entry;
        addCheckBox(column, QLatin1String(entry.text), entry.get(), [flag](bool on) {
            flag->set(on);
            if (KelSettings* current = appSettings())
                current->setValue(QLatin1String(flag->key), on);
        });
    }

    setObjectName(QStringLiteral("Painting"));
}

KelServicePage_Painting::~KelServicePage_Painting() = default;
