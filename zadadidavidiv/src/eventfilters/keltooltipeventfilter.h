#pragma once

#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>

// Shows a tooltip whose text is computed when the tooltip is asked for, from the position in the watched
// widget; an empty text hides any tooltip. The owner installs the filter on the widget, which is also its
// parent. Tooltip events are taken; everything else passes.
class KelTooltipEventFilter : public QObject {
    Q_OBJECT
public:
    using TextProvider = std::function<QString(const QPoint& pos)>;

    KelTooltipEventFilter(QObject* parent, TextProvider provider);
    ~KelTooltipEventFilter() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TextProvider m_provider;
};
