#pragma once

#include "widgets/kelframe.h"
#include "widgets/kellineedit.h"

#include <QMap>

class QAbstractItemModel;
class KelButton;

// The sort bar above the library list: one checkable button per sortable column. A click sorts by its
// column, a further click on the sorting column reverses the order; the checked button and its arrow
// follow the model's sort whoever set it. In table view the buttons line up with the row columns
// between thin separators, in card view they sit centred.
class BookTableHeader : public KelFrame {
    Q_OBJECT
public:
    BookTableHeader(QAbstractItemModel* model, QWidget* parent = nullptr);
    ~BookTableHeader() override;

    void setViewMode(int mode);
    int viewMode() const;
    void retranslateUi();
    // Widths of the author, date added, notes and progress columns; the name column takes the rest.
    QMap<int, int> columnWidths() const;
    void setColumnWidths(const QMap<int, int>& widths);
    QList<KelButton*> buttons() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    class Private;
    Private* d;
};

// The library's search field.
class SearchLineEdit : public KelLineEdit {
    Q_OBJECT
public:
    explicit SearchLineEdit(QWidget* parent = nullptr);
};
