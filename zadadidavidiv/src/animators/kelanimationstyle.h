#pragma once

#include "animators/kelanimationparams.h"

#include <QObject>

#include <functional>

// The answers of the current style that the animators ask for: the animation of a state kind and the
// opacities (kind 0: the dimming of a fully disabled widget). The style classes are not part of this folder:
// whoever owns the current style installs its answers with setSource and calls notifyStyleChanged after each
// switch, which makes every state animator apply the style again. Until a source is installed the base look
// answers.
class KelAnimationStyle : public QObject {
    Q_OBJECT
public:
    struct Source {
        std::function<KelAnimationParams(int kind)> animationSpec;
        std::function<double(int kind)> opacity;
    };

    // The process-wide object, a child of the application object while one exists.
    static KelAnimationStyle* instance();

    // Empty functions fall back to the base look.
    void setSource(const Source& source);
    void notifyStyleChanged();

    KelAnimationParams animationSpec(int kind) const;
    double opacity(int kind) const;

    // The base look: kind 0 disabled, 1 hovered, 2 pressed, 3 checked, 4 blocked-window overlay; any other
    // kind gives four zeros and two null values.
    static KelAnimationParams baseAnimationSpec(int kind);
    // 0.6 for kind 0, 0.57 for kind 1, else 0.0.
    static double baseOpacity(int kind);

signals:
    void styleChanged();

private:
    explicit KelAnimationStyle(QObject* parent);

    Source m_source;
};
