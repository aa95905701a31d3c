#pragma once

#include <QPointer>

class KelStyleManager;

// Mixin of every styled object: a style id (the widget type by which the current style picks how
// to style it; -1 = not styled) and a subscription to the style manager, which calls applyStyle()
// on each live styleable when the current style changes. Toolkit ids are below 1000; the
// program's own start at 1000.
//
// The object registers in its constructor and unregisters in its destructor, so the manager never
// holds a pointer to a dead object. While the application is closing down nothing is restyled any
// more and the manager is left alone.
class KelStyleable {
public:
    explicit KelStyleable(int widgetType);
    virtual ~KelStyleable();

    int widgetType() const { return m_widgetType; }
    bool isStyled() const { return m_widgetType >= 0; }
    // Restyles when the id changes.
    void setWidgetType(int widgetType);

    // Restyles this object from kelStyle() by its widget type.
    virtual void applyStyle() = 0;

private:
    Q_DISABLE_COPY(KelStyleable)

    int m_widgetType = -1;
    // The manager this object registered with; null once it is gone.
    QPointer<KelStyleManager> m_manager;
};
