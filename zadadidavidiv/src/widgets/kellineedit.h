#pragma once

#include "painting/kelframepainter.h"
#include "styles/kelstatecolors.h"
#include "styles/kelstyleable.h"

#include <QLineEdit>
#include <QMargins>
#include <QScopedPointer>

class KelButton;
class KelIcon;
class KelLabel;
class KelWidgetStateAnimator;

// The toolkit's single-line text field: the frame painter draws its box, and on top of QLineEdit it
// has an optional tinted icon at the left edge, a row of right-side widgets (the clear button), an
// error label directly under the field (living in the parent so it is not clipped) and an echo mode
// that masks the text only while the field has no focus.
class KelLineEdit : public QLineEdit, public KelFramePainter, public KelStyleable {
    Q_OBJECT
public:
    explicit KelLineEdit(int styleRole, QWidget* parent = nullptr);
    ~KelLineEdit() override;

    using QLineEdit::contentsRect;

    // Made on the first call; later calls do nothing. With clearOnEscape, Escape on a non-empty
    // field clears it too.
    void addClearButton(bool clearOnEscape);
    KelButton* clearButton() const;
    // Side widgets are laid out from the right edge inwards in the order they were added.
    void addSideWidget(QWidget* widget);

    // An invalid colour takes the style's error text colour.
    void showError(const QString& text, const QColor& color = QColor());
    void hideError();
    KelLabel* errorLabel() const;

    void setIcon(const QString& iconId);
    KelIcon* icon() const;
    void setIconMargins(const QMargins& margins);
    void setIconColors(const KelStateColors& colors);
    void setTextVerticalOffset(int offset);
    void setSideWidgetSpacing(int spacing);
    int sideWidgetSpacing() const;
    // On: the text is readable while the field has focus and masked otherwise. Off only stops the
    // switching; the echo mode stays as it is.
    void setPasswordWhenUnfocused(bool on);
    bool passwordWhenUnfocused() const;
    void setTextSilently(const QString& text);

    KelWidgetStateAnimator* stateAnimator() const;
    // Width of the visible side widgets plus the spacing, 0 when none shows.
    int sideWidgetsWidth() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    void applyStyle() override;

signals:
    // Never emitted here; for owners and subclasses that validate the text.
    void isValidChanged(bool valid);
    void focused();
    void focusLost();
    void cancelPressed();

protected:
    bool event(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Margins, borders and paddings of the frame changed: the text moves with them.
    void onSizeHintChanged() override;

private:
    void updateTextMargins();
    void updateSideWidgets();
    void updateClearButton();
    void clearByButton();
    void applyPasswordEcho();
    QSize contentSizeHint() const;
    int iconPartWidth() const;

    class Private;
    QScopedPointer<Private> d;
};
