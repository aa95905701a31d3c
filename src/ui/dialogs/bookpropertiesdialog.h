#pragma once

#include "windows/keldialog.h"

#include <QModelIndex>

class BookThumbnailWidget;
class KelButton;
class KelScrollArea;
class LabeledButton;
class LabeledLabel;
class LabeledPlainTextEdit;
class LabeledProgress;

// One library book's properties: cover, title, author, file, progress, last opening, format,
// size and description. Title, author, description and cover are edited here; SAVE writes them
// back through the book model, any other result drops them.
class BookPropertiesDialog : public KelDialog {
    Q_OBJECT

public:
    BookPropertiesDialog(const QModelIndex& book, QWidget* parent = nullptr);
    ~BookPropertiesDialog() override;

    void retranslateUi();
    void done(int result) override;
    void translateUi() override;

    // The largest size of a stored user cover; smaller pictures are enlarged to it.
    static QSize coverBounds() { return QSize(600, 600); }

    BookThumbnailWidget* thumbnail() const;
    KelScrollArea* scrollArea() const;
    LabeledPlainTextEdit* titleEdit() const;
    LabeledPlainTextEdit* authorEdit() const;
    LabeledPlainTextEdit* descriptionEdit() const;
    LabeledButton* fileButton() const;
    LabeledProgress* progress() const;
    LabeledLabel* lastRead() const;
    LabeledLabel* fileFormat() const;
    LabeledLabel* fileSize() const;
    KelButton* changeImageButton() const;
    KelButton* resetCoverButton() const;
    KelButton* saveButton() const;

protected:
    void showEvent(QShowEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Private;
    Private* d;
};
