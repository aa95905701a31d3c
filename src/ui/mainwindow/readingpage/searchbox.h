#pragma once

#include "readingmodelwidget.h"
#include "readingsidebar.h"

class KelLabel;
class KelLineEdit;

// A search hit: chapter title, page and the matching text, every occurrence of the query coloured.
class SearchWidget : public ReadingModelItemButton {
    Q_OBJECT
public:
    explicit SearchWidget(QWidget* parent = nullptr);

    void readFrom(const QModelIndex& index) override;
    void applyStyle() override;

    // Rich text showing s literally, with every case-insensitive occurrence of the query enclosed
    // in the two tags; the book's text never becomes markup.
    static QString highlight(const QString& s, const QString& query, const QString& openTag, const QString& closeTag);

private:
    void refreshLabels();

    QString m_query;
    QString m_title;
    QString m_text;
    QString m_openTag;
    QString m_closeTag = QStringLiteral("</font>");
    KelLabel* m_titleLabel = nullptr;
    KelLabel* m_textLabel = nullptr;
    KelLabel* m_pageLabel = nullptr;
};

// Full-text search in the open book; the context searches after a pause in typing.
class SearchBox : public BookItemsSideBar {
    Q_OBJECT
public:
    explicit SearchBox(QWidget* parent = nullptr);

    QString title() const override;
    QString closeText() const override;
    QString emptyText() const override;
    KelLineEdit* searchField() const { return m_searchField; }

protected:
    void onBookContextChanged(QSharedPointer<BookContext> context) override;

private:
    KelLineEdit* m_searchField;
};
