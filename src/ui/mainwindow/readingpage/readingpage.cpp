#include "readingpage.h"

#include <QDebug>

ReadingPage::ReadingPage(QWidget* parent)
    : QWidget(parent)
{
}

ReadingPage::~ReadingPage() = default;

bool ReadingPage::openBook(int bookId)
{
    qWarning() << "Reading page cannot show books yet; book" << bookId << "not opened";
    return false;
}

bool ReadingPage::isFullscreen() const { return m_fullscreen; }

void ReadingPage::setFullscreen(bool on) { m_fullscreen = on; }

void ReadingPage::translateUi() { }
