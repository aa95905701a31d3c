#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QPersistentModelIndex>
#include <QPointer>

#include <vector>

// The entries of a contents tree that are open to the eye, as one flat list in reading order: the
// top-level entries and the children of every expanded entry whose parents are expanded too. A
// row's data and flags are its entry's (column 0); DepthRole gives the entry's level (0 at the top),
// HasChildrenRole whether it can expand, ExpandedRole whether it is (set through setData). Entries
// start collapsed, and a reset of the tree collapses them all. A list widget over it makes rows for
// what is on screen only, however many entries a book has. GUI thread only.
class TocListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Roles { DepthRole = Qt::UserRole + 100, HasChildrenRole, ExpandedRole };

    explicit TocListModel(QObject* parent = nullptr);

    void setSourceModel(QAbstractItemModel* source);
    QAbstractItemModel* sourceModel() const { return m_source; }
    QModelIndex mapToSource(const QModelIndex& index) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // ExpandedRole only: opens or closes the entry's children below it.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

private:
    struct Row {
        QModelIndex source;
        int depth = 0;
    };

    void beginSourceChange();
    void endSourceChange();
    bool isExpanded(const QModelIndex& source) const;
    void appendOpenChildren(const QModelIndex& parent, int depth, std::vector<Row>& rows) const;
    void setExpanded(int row, bool expanded);
    // The last row of the entry's open descendants; the row itself when it has none open.
    int lastDescendant(int row) const;
    void onSourceDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QVector<int>& roles);

    QPointer<QAbstractItemModel> m_source;
    std::vector<Row> m_rows;
    // Few: the entries the user opened (they stay open under a closed parent).
    QList<QPersistentModelIndex> m_expanded;
    bool m_changing = false;
};
