#include "slidebox.h"

#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"

#include <QHBoxLayout>
#include <QStackedLayout>
#include <QVBoxLayout>

SlideBox::SlideBox(const QMargins& borderWidths, QWidget* parent)
    : KelFrame(1044, parent)
{
    setBorderWidths(borderWidths);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_header = new KelFrame(1042, this);
    m_header->setObjectName(QStringLiteral("Header"));
    m_header->setFixedHeight(60);
    auto* headerLayout = new QHBoxLayout(m_header);
    headerLayout->setContentsMargins(24, 0, 16, 0);
    m_title = new KelLabel(1061, m_header);
    m_title->setObjectName(QStringLiteral("Title"));
    m_title->setAlignment(Qt::AlignTop);
    m_title->setContentsMargins(0, 14, 0, 0);
    m_closeButton = new KelButton(1024, m_header);
    m_closeButton->setObjectName(QStringLiteral("Close"));
    headerLayout->addWidget(m_title);
    headerLayout->addStretch();
    headerLayout->addWidget(m_closeButton);
    layout->addWidget(m_header);
    m_pagesStack = new QStackedLayout;
    m_pagesStack->setObjectName(QStringLiteral("PagesStack"));
    m_pagesStack->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(m_pagesStack, 1);
    setMinimumWidth(340);
}

SlideBox::~SlideBox() = default;
