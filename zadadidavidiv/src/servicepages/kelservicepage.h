#pragma once

#include <QScrollArea>
#include <QString>

#include <functional>

class KelButton;
class KelFlowLayout;
class QFormLayout;
class QLayout;
class QObject;
class QPointF;

// The common frame of the developer service pages: a frameless scroll area that shows its parent's
// background, whose content is one form of rows. The static builders make the buttons and check
// boxes every page uses.
class KelServicePage : public QScrollArea {
    Q_OBJECT

public:
    explicit KelServicePage(QWidget* parent = nullptr);
    ~KelServicePage() override;

    // Appends a captioned row of wrapping buttons and returns its layout for the caller's buttons.
    KelFlowLayout* addFlowRow(const QString& caption);

    // A push button that runs action when clicked; added to layout when one is given, otherwise
    // without parent until the caller places it.
    static KelButton* addButton(QLayout* layout, const QString& text, std::function<void()> action);
    // A check box that starts in the given state without telling action, then reports every toggle.
    static KelButton* addCheckBox(
        QLayout* layout, const QString& text, bool initialState, std::function<void(bool)> action);

protected:
    QFormLayout* form = nullptr;
};

// "Name(Class, 0x1234, x:1, y:2, w:3, h: 4)" for the diagnostic readouts; the geometry part only for
// widgets, "QObject(0x0)" for null.
QString describeObject(const QObject* object);
// "[<b>x</b>; <b>y</b>]".
QString pointText(const QPointF& point);
