#pragma once

#include "readingmodelwidget.h"
#include "readingsidebar.h"

#include <QTextLayout>

class KelLabel;
class KelLineEdit;
class WordWrapLabel;

// A search hit: chapter title, page and the matching text, every occurrence of the query coloured.
// The row is as wide as the list: title and text wrap and are elided after a few lines, the text
// starting near its first occurrence of the query, and the page keeps its place on the right.
class SearchWidget : public ReadingModelItemButton {
    Q_OBJECT
public:
    explicit SearchWidget(QWidget* parent = nullptr);

    void readFrom(const QModelIndex& index) override;
    void applyStyle() override;

    // Rich text showing s literally, with every case-insensitive occurrence of the query enclosed
    // in the two tags; the book's text never becomes markup.
    static QString highlight(const QString& s, const QString& query, const QString& openTag, const QString& closeTag);
    // Every case-insensitive occurrence of the query in s, in the colour.
    static QVector<QTextLayout::FormatRange> occurrences(const QString& s, const QString& query, const QColor& color);
    // The text from a little before the query's first occurrence on, so that the few lines shown hold it.
    static QString fromFirstOccurrence(const QString& s, const QString& query);

    WordWrapLabel* textLabel() const { return m_textLabel; }
    KelLabel* pageLabel() const { return m_pageLabel; }

private:
    void refreshLabels();

    QString m_query;
    QString m_title;
    QString m_text;
    QColor m_highlightColor;
    QString m_openTag;
    QString m_closeTag = QStringLiteral("</font>");
    WordWrapLabel* m_titleLabel = nullptr;
    WordWrapLabel* m_textLabel = nullptr;
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
