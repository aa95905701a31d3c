#pragma once

#include "bookcontextwatcher.h"
#include "widgets/kelframe.h"

class KelLabel;
class QAbstractItemModel;
class QHBoxLayout;
class ReadingModelWidget;

// A page of the reading page's slide boxes.
class ReadingSideBar : public KelFrame, public BookContextWatcher {
    Q_OBJECT
public:
    ReadingSideBar(int sideBarType, QWidget* parent = nullptr);

    int sideBarType() const { return m_sideBarType; }

    virtual void retranslateUi() = 0;
    virtual QString title() const = 0;
    virtual QString closeText() const = 0;
    // Whether the slide box draws a line under the page title.
    virtual bool hasTitleSeparator() const { return true; }

signals:
    void closeRequest();

protected:
    void onBookContextChanged(QSharedPointer<BookContext>) override { }

private:
    int m_sideBarType;
};

// A page listing items of the open book (contents, bookmarks, notes, search hits), with the rows of
// the reader's position marked and a text in place of an empty list.
class BookItemsSideBar : public ReadingSideBar {
    Q_OBJECT
public:
    enum TrackMode { TrackPageRange = 0, TrackTocItem = 1 };

    BookItemsSideBar(int sideBarType, QWidget* parent, int trackMode);
    ~BookItemsSideBar() override;

    virtual QString emptyText() const = 0;
    void retranslateUi() override;
    bool hasTitleSeparator() const override { return m_headerLayout == nullptr; }

    // The header frame's layout, made on first use.
    QHBoxLayout* headerLayout();
    // Takes ownership of the model and shows it.
    void setProxyModel(QAbstractItemModel* model);
    QAbstractItemModel* proxyModel() const { return m_proxyModel; }
    ReadingModelWidget* modelWidget() const { return m_modelWidget; }

protected:
    void onBookContextChanged(QSharedPointer<BookContext> context) override;
    void onRowCountChanged(int count);

private:
    void ensureCursorVisible();
    void updateCurrentByPage();
    void updateCurrentByToc();

    int m_trackMode;
    QHBoxLayout* m_headerLayout = nullptr;
    QAbstractItemModel* m_proxyModel = nullptr;
    ReadingModelWidget* m_modelWidget;
    KelLabel* m_emptyLabel;
};
