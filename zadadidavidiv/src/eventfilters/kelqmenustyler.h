#pragma once

#include <QObject>
#include <QSet>

#include <functional>

class QWidget;

// Styles the context menus that Qt widgets make on their own: every widget child of the watched widget
// loses the system's drop shadow, and a child that turns out to be a QMenu gets the current style's
// style sheet for the styler's widget type on the next pass of the event loop (once it is fully built).
//
// The style sheets belong to the style classes, which reach this folder through setStyleSheetApplier;
// until one is set a menu keeps Qt's look and a warning is logged.
class KelQMenuStyler : public QObject {
    Q_OBJECT
public:
    // Puts the style's style sheet for the widget type on the widget.
    using StyleSheetApplier = std::function<void(QWidget* widget, int widgetType)>;

    // A child of the widget and installed on it when the widget is not null.
    KelQMenuStyler(QWidget* widget, int widgetType);
    ~KelQMenuStyler() override;

    int widgetType() const { return m_widgetType; }

    static void setStyleSheetApplier(StyleSheetApplier applier);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int m_widgetType = -1;
    QSet<QObject*> m_pending; // children announced whose styling waits for the next pass of the loop
};
