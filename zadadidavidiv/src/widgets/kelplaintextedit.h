#pragma once

#include "painting/kelframepainter.h"
#include "styles/kelstyleable.h"

#include <QPlainTextEdit>
#include <QScopedPointer>

class KelWidgetStateAnimator;

// A frameless plain text edit whose box the frame painter draws (hover and focus colours from its
// state animator). The scroll bars sit inside the frame's box margins. In auto-height mode the
// edit is as tall as its text: it answers heightForWidth and relayouts when the document grows.
class KelPlainTextEdit : public QPlainTextEdit, public KelFramePainter, public KelStyleable {
    Q_OBJECT
public:
    explicit KelPlainTextEdit(int widgetType, QWidget* parent = nullptr);
    ~KelPlainTextEdit() override;

    // Replaces the text only when it differs, so the cursor stays where it is otherwise.
    virtual void setText(const QString& text);
    // The text as typed: toPlainText() turns no-break spaces into plain ones, this keeps them.
    // Lines end in "\n".
    QString text() const;
    // setText with the edit's signals blocked.
    virtual void setTextSilently(const QString& text);

    bool autoHeight() const;
    void setAutoHeight(bool on);

    KelWidgetStateAnimator* stateAnimator() const;

    using KelFramePainter::contentsRect;
    using QPlainTextEdit::minimumSizeHint;
    using QPlainTextEdit::sizeHint;
    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override;
    bool hasHeightForWidth() const override;

    // The viewport keeps the paddings as its margins.
    void setPaddings(const QMargins& paddings) override;
    void applyStyle() override;

signals:
    void plainTextChanged(const QString& plainText);
    void focusLost();

protected:
    bool event(QEvent* event) override;
    void onSizeHintChanged() override;

private:
    void placeScrollBars();

    class Private;
    QScopedPointer<Private> d;
};
