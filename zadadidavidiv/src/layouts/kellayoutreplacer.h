#pragma once

#include <QMap>
#include <QObject>
#include <QPointer>

class QLayout;
class QLayoutItem;
class QWidget;

// Keeps alternative layouts of one area under ids and swaps the current one in place: the items move into
// the new layout, which takes the old one's place in their parent box layout.
class KelLayoutReplacer : public QObject {
    Q_OBJECT
public:
    explicit KelLayoutReplacer(QObject* parent = nullptr);
    ~KelLayoutReplacer() override;

    // Does not take ownership; a registration under the same id is replaced.
    void registerLayout(int id, QLayout* layout);

    int currentLayoutId() const;
    QLayout* currentLayout() const;
    void setCurrentLayoutId(int id);

    // Into the current layout, which must be a QBoxLayout or a KelFlowLayout.
    void insertWidget(int index, QWidget* widget);
    void insertItem(int index, QLayoutItem* item);
    // Moves the items first..last so that they stand before the item that was at destination (the convention
    // of a model's rows-moved notification).
    void moveItems(int first, int last, int destination);

signals:
    void currentLayoutIdAboutToChange(int newId, int oldId);
    void currentLayoutIdChanged(int newId, int oldId);

private:
    void park(QLayout* layout);
    void selectFirst(int id);

    int m_currentLayoutId = -1;
    QMap<int, QPointer<QLayout>> m_layouts;
};
