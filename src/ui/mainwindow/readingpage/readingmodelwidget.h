#pragma once

#include "formats/booklink.h"
#include "itemviews/kellistwidget.h"
#include "itemviews/kellistwidgetitem.h"
#include "widgets/kelbutton.h"
#include "widgets/kelwidget.h"

#include <QVariant>

class ReadingModelItem;

// A side page's list, the rows of the reader's position marked. A book fills these lists (contents,
// search hits, notes), so rows have widgets only near the view: the others are measured with a
// hidden row of the same kind, all at once in a short list, while idle in a long one.
class ReadingModelWidget : public KelListWidget {
    Q_OBJECT
public:
    explicit ReadingModelWidget(QWidget* parent = nullptr);

    // A pair of pages (first, last) or a contents entry id, by the page's way of tracking.
    QVariant currentItemKey() const { return m_currentItemKey; }
    void setCurrentItemKey(const QVariant& key);

    QSize sizeHint() const override { return KelScrollArea::sizeHint(); }

    // Makes rows of type Row for this list, wired to the list's own signals.
    template <typename Row> void installRowFactory();
    // The height of the row for the index at the list's width, as its widget would take it.
    int rowHeight(const QModelIndex& index) const;

signals:
    void navLinkClicked(BookLinkPtr link, bool force);
    void removeClicked(QString id);
    void textCursorPositionChanged();
    void textEdited(QString id, QString text);

private:
    void setProbe(QWidget* widget, ReadingModelItem* item);

    QVariant m_currentItemKey;
    QWidget* m_probe = nullptr;
    ReadingModelItem* m_probeItem = nullptr;
};

// What every row of a side page list carries besides its widget.
class ReadingModelItem : public KelListWidgetItem {
public:
    virtual ~ReadingModelItem() = default;

    void readFrom(const QModelIndex& index) override;
    void resetItem() override { m_link.reset(); }
    virtual void updateCurrentState() = 0;
    virtual void onCurrentDayChanged() { }

    BookLinkPtr link() const { return m_link; }
    void setLink(BookLinkPtr link) { m_link = link; }
    int page() const { return m_link ? m_link->page : -1; }
    QVariant currentItemKey() const;
    ReadingModelWidget* ownerList() const { return m_owner; }
    void setOwnerList(ReadingModelWidget* owner) { m_owner = owner; }

protected:
    // Whether the row's page lies in the list's (first, last) page range.
    bool isInCurrentPageRange() const;

private:
    ReadingModelWidget* m_owner = nullptr;
    BookLinkPtr m_link;
};

// A whole-row button: sized by the layout of the widgets it holds, not by its own text.
class ReadingRowButton : public KelButton {
    Q_OBJECT
public:
    explicit ReadingRowButton(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    void applyStyle() override;
};

// A row clicked as a whole (bookmarks, notes, search hits); checked while current.
class ReadingModelItemButton : public ReadingRowButton, public ReadingModelItem {
    Q_OBJECT
public:
    explicit ReadingModelItemButton(QWidget* parent = nullptr);
    void updateCurrentState() override;

signals:
    void navLinkClicked(BookLinkPtr link, bool force);
    void removeClicked(QString id);
    void textCursorPositionChanged();
    void textEdited(QString id, QString text);
};

// A plain row holding its own buttons (contents).
class ReadingModelItemWidget : public KelWidget, public ReadingModelItem {
    Q_OBJECT
public:
    explicit ReadingModelItemWidget(QWidget* parent = nullptr);

signals:
    void navLinkClicked(BookLinkPtr link, bool force);
    void removeClicked(QString id);
    void textCursorPositionChanged();
    void textEdited(QString id, QString text);
};

template <typename Row> void ReadingModelWidget::installRowFactory()
{
    setItemFactory([this](QWidget* parent, const QModelIndex& index) -> KelListWidgetItem* {
        auto* row = new Row(parent);
        row->setOwnerList(this);
        row->readFrom(index);
        row->retranslateUi();
        connect(row, &Row::navLinkClicked, this, &ReadingModelWidget::navLinkClicked);
        connect(row, &Row::removeClicked, this, &ReadingModelWidget::removeClicked);
        connect(row, &Row::textCursorPositionChanged, this, &ReadingModelWidget::textCursorPositionChanged);
        connect(row, &Row::textEdited, this, &ReadingModelWidget::textEdited);
        return row;
    });
    auto* probe = new Row(this);
    probe->setOwnerList(this);
    probe->retranslateUi();
    setProbe(probe, probe);
}
