#pragma once

#include "styles/kelstyle.h"

class KelMessageBox;

// The application's look, common to its three profiles: metrics, sizes, colour roles and colour
// sets of the application's ids (1000 and up) and the styling of every widget kind by style id.
// The concrete colours come from the profile through the virtual colour query, so each apply
// operation gives the whole look of the current profile and may run again at any time.
class Style : public KelStyle {
    Q_OBJECT

public:
    explicit Style(QObject* parent = nullptr);
    ~Style() override;

    int metric(int kind) const override;
    QSize size(int kind) const override;
    QMargins margins(int kind) const override;
    QColor color(int role) const override;
    KelStateColors colorSet(int kind) const override;
    KelArrowSpec arrowSpec(int kind) const override;
    QString iconPath(int kind) const override;

    void applyWindowStyle(KelWindow* window, int kind) const override;
    void applyFrameStyle(KelFrame* frame, int kind) const override;
    void applyLabelStyle(QLabel* label, int kind) const override;
    void applyDelimiterStyle(KelDelimiter* delimiter, int kind) const override;
    void applyButtonStyle(KelButtonPainter* painter, int kind, const QString& iconName) const override;
    void applyLineEditStyle(KelLineEdit* edit, int kind) const override;
    void applyPlainTextEditStyle(KelPlainTextEdit* edit, int kind) const override;
    void applySpinBoxStyle(KelSpinBoxPainter* painter, int kind) const override;
    void applySliderStyle(KelSlider* slider, int kind) const override;
    void applyProgressBarStyle(KelProgressBar* progressBar, int kind) const override;
    void applyScrollAreaStyle(KelScrollArea* area, int kind) const override;
    void applyLinearShadowStyle(KelLinearShadowWidget* shadow, int kind) const override;

protected:
    // The colour of a role with its alpha set (0..1).
    QColor colorAt(int role, double alpha) const;
    // The overlays of the current profile, as asked for an unknown background.
    QColor hover() const;
    QColor pressed() const;

private:
    void applyDialogStyle(KelWindow* window) const;
    void applyGrainedWindowStyle(KelWindow* window, int kind) const;
    void applyMessageBoxStyle(KelMessageBox* box) const;
    void applySliderHandle(KelSlider* slider, int grooveThickness, int handleSize, int handleBorder) const;
    void applyPushButton(KelButtonPainter* painter, int kind, const QString& iconName) const;
    void applyToolButton(KelButtonPainter* painter, int kind, const QString& iconName) const;
    bool applySideBarOrTabButton(KelButtonPainter* painter, int kind, const QString& iconName) const;
};
