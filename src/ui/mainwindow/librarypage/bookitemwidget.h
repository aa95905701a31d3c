#pragma once

#include "enums.h"
#include "itemviews/kellistwidgetitem.h"
#include "styles/kelstyleable.h"
#include "widgets/kelwidget.h"

#include <QMap>
#include <QPixmap>
#include <QVariant>

class BookItemPopupMenu;
class BookThumbnailWidget;

// One library book as a table row or a card. It reads its row from the book list's model and turns
// clicks, keys, double-clicks, drags and the context menu into library actions; the page carries
// them out.
class BookItemWidget : public KelWidget, public KelStyleable, public KelListWidgetItem {
    Q_OBJECT
public:
    BookItemWidget(int viewMode, BookItemPopupMenu* menu, QWidget* parent = nullptr);
    ~BookItemWidget() override;

    void readFrom(const QModelIndex& index) override;
    void setItemMode(int mode) override;
    void retranslateUi() override;
    void applyStyle() override;

    int bookId() const;
    BookThumbnailWidget* thumbnail() const;
    // Keys: 1 author, 2 date added, 3 notes, 4 progress block; empty maps in cards mode.
    QMap<int, int> columnMinimumWidths() const;
    QMap<int, int> columnWidths() const;
    void setColumnWidths(const QMap<int, int>& widths);
    // The size of a card showing this title and author, as the card lays them out; a widget in
    // cards mode measures the rows of a list that has no widgets for them.
    QSize cardSize(const QString& title, const QString& author) const;

signals:
    void actionClicked(BookItemWidget* thisWidget, Enums::LibraryAction action, QVariant userData);
    void dragStarted(BookItemWidget* thisWidget, QPixmap pixmap, QPoint hotPoint);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    class Private;
    Private* d;
};
