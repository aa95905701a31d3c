#pragma once

#include "formats/toctree.h"

#include <QAbstractItemModel>

#include <memory>
#include <vector>

// The open book's table of contents as a tree with two columns: "Title" and "Page" (the
// page of the entry's link, -1 without a link). The whole entry (link, title, id) is in the
// user and tooltip roles. The model keeps its own copy of the tree; the links stay shared with
// the book, so pages written into them show after updatePages(). Before the first setToc the
// model is empty. GUI thread only.
class TocModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Columns { TitleColumn, PageColumn, ColumnCount };

    explicit TocModel(QObject* parent = nullptr);
    ~TocModel() override;

    void setToc(const QList<TocPoint>& points);
    // Reports the page column of every entry changed, level by level.
    void updatePages();

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Node {
        BookLinkItem item;
        Node* parent = nullptr;
        int row = 0; // place among the parent's children
        std::vector<std::unique_ptr<Node>> children;
    };

    Node* nodeOf(const QModelIndex& index) const;
    static void addNodes(Node* parent, const QList<TocPoint>& points);
    void updatePages(const QModelIndex& parent);

    std::unique_ptr<Node> m_root;
};
