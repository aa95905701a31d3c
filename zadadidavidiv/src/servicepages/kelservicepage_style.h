#pragma once

#include "servicepages/kelservicepage.h"

#include <QColor>

class KelButton;
class KelIconLabel;
class KelLabel;
class KelStateColors;
class KelStyle;
class QGridLayout;
class QSpacerItem;

// The skeleton of a style gallery: a subclass fills the sections and calls buildPage at the end of
// its constructor; the builders make sample widgets styled by the page's style (not the current
// one).
class KelServicePage_Style : public KelServicePage {
    Q_OBJECT

public:
    KelServicePage_Style(KelStyle* style, QWidget* parent = nullptr);
    ~KelServicePage_Style() override;

    // Paints the page in the style's window colour and fills the sections in order.
    void buildPage();

    // An 8 pixel gap between gallery rows.
    static QSpacerItem* createSpacer();
    KelButton* createButton(int widgetType, const QString& text, const QString& iconName = QString());
    KelLabel* createLabel(const QString& text);
    // Text in the colour; an invalid colour shows the style's default text colour.
    KelLabel* createColorLabel(const QString& text, const QColor& color);
    // As createColorLabel, followed by "(#rrggbb)".
    KelLabel* createColorNameLabel(const QString& text, const QColor& color);
    KelIconLabel* createColorSwatch(
        const QString& text, const KelStateColors& background, const KelStateColors& content);
    // Appends a row showing the colour as it looks on the window, then under each overlay of the
    // style.
    void addOverlayColorsRow(QGridLayout* grid, const QString& text, const QColor& color);

protected:
    virtual void addTextColors();
    virtual void addFillColors();
    // Room for a program's own section between the colours and the widget samples.
    virtual void addCustomSection();
    virtual void addWidgetSamples();

    KelStyle* style = nullptr;
};
