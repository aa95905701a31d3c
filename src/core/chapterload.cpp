#include "chapterload.h"

#include <QWebFrame>
#include <QWebPage>
#include <QWebSettings>
#include <QtDebug>

ChapterLoad::ChapterLoad(QWebPage* page)
    : QObject(page)
    , m_page(page)
{
    connect(page, &QWebPage::loadStarted, this, &ChapterLoad::onLoadStarted);
    connect(page, &QWebPage::loadFinished, this, &ChapterLoad::onLoadFinished);
}

void ChapterLoad::start(const QUrl& file)
{
    // A book's script must not run while its chapter is parsed: it could change the layout the
    // page counter measured, or wait and loop forever.
    m_page->settings()->setAttribute(QWebSettings::JavascriptEnabled, false);
    m_file = file.adjusted(QUrl::RemoveFragment);
    m_navigation = m_file;
    m_state = State::Asked;
    m_starting = true;
    m_page->mainFrame()->load(file);
    m_starting = false;
}

void ChapterLoad::abandon()
{
    m_state = State::Idle;
    m_navigation = QUrl();
}

ChapterNavigation ChapterLoad::navigation(
    QWebFrame* frame, const QNetworkRequest& request, QWebPage::NavigationType type)
{
    return chapterNavigation(frame, request, type, &m_navigation);
}

void ChapterLoad::onLoadStarted()
{
    if (m_state == State::Asked)
        m_state = State::Started;
}

void ChapterLoad::onLoadFinished(bool ok)
{
    if (m_starting || m_state != State::Started) {
        qDebug() << "The end of a load not asked for (or given up) is passed over:" << ok
                 << m_page->mainFrame()->requestedUrl().toDisplayString().left(120);
        return;
    }
    const QUrl requested = m_page->mainFrame()->requestedUrl().adjusted(QUrl::RemoveFragment);
    if (requested != m_file) {
        qDebug() << "The end of a load of another address is passed over:" << requested.toDisplayString().left(120);
        return;
    }
    m_state = State::Idle;
    m_navigation = QUrl();
    if (!ok) {
        qWarning() << "The chapter failed to load:" << m_file.toDisplayString();
        emit failed();
        return;
    }
    disarmScripts(m_page->mainFrame());
    m_page->settings()->setAttribute(QWebSettings::JavascriptEnabled, true);
    emit loaded();
}
