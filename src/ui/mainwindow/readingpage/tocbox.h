#pragma once

#include "readingmodelwidget.h"
#include "readingsidebar.h"

class KelLabel;
class WordWrapLabel;

// The toggle in front of a contents entry; checked while the entry is expanded.
class ExpandButton : public KelButton {
    Q_OBJECT
public:
    explicit ExpandButton(QWidget* parent = nullptr);
    // Shows the state without reporting a toggle.
    void setExpandedSilently(bool expanded);

private:
    void updateLook();
};

// One contents entry, indented by its level; its children follow it in the list while it is expanded.
class TocItemWidget : public ReadingModelItemWidget {
    Q_OBJECT
public:
    explicit TocItemWidget(QWidget* parent = nullptr);

    void readFrom(const QModelIndex& index) override;
    void updateCurrentState() override;

    KelButton* rowButton() const { return m_rowButton; }
    ExpandButton* expandButton() const { return m_expandButton; }

private:
    void onExpandToggled(bool expanded);

    QString m_id;
    KelButton* m_rowButton;
    ExpandButton* m_expandButton;
    WordWrapLabel* m_titleLabel;
    KelLabel* m_pageLabel;
};

// The open book's contents as an expandable tree, the entry being read marked. The list shows the
// entries open to the eye (TocListModel), so however long the contents, rows exist only near the view.
class TocBox : public BookItemsSideBar {
    Q_OBJECT
public:
    explicit TocBox(QWidget* parent = nullptr);

    QString title() const override;
    QString closeText() const override;
    QString emptyText() const override;

protected:
    void onBookContextChanged(QSharedPointer<BookContext> context) override;
};
