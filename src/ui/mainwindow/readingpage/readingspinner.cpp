#include "readingspinner.h"

#include "bookpageparams.h"
#include "painting/kelpaintcontext.h"
#include "settingsprovider.h"
#include "styles/kelstyle.h"

#include <QDebug>
#include <QMetaEnum>
#include <QPainter>
#include <QRandomGenerator64>
#include <QtMath>

namespace {
constexpr int kFirstLineIndent = 40;
constexpr int kAreaPadding = 10;
constexpr int kBottomReserve = 32;

// A value in 0..range-1 from the high half of a 32-bit word scaled by the range.
int boundedRandom(quint32 range)
{
    const quint64 word = QRandomGenerator64::global()->generate();
    return int(((word & 0xffffffffu) * range) >> 32);
}
}

ReadingSpinner::ReadingSpinner(QWidget* parent)
    : KelWidget(parent)
    , KelStyleable(-1)
    , m_params(new BookPageParams(this))
{
    SettingsProvider* settings = SettingsProvider::instance();
    m_params->setColumnCount(settings->column_count());
    connect(settings, &SettingsProvider::column_countChanged, this, [this](int count) {
        m_params->setColumnCount(count);
        update();
    });
    applyStyle();
    hide();
}

ReadingSpinner::~ReadingSpinner() = default;

void ReadingSpinner::setMode(Mode mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    setVisible(mode != Nothing);
    if (mode == WebViewResize && m_snapshotSource) {
        m_snapshot = m_snapshotSource->grab(m_snapshotSource->rect());
        update();
    }
    qWarning() << "Spinner mode:" << QMetaEnum::fromType<Mode>().valueToKey(mode) << "visible"
               << isVisibleTo(parentWidget());
}

void ReadingSpinner::applyStyle()
{
    KelStyle* style = kelStyle();
    if (!style)
        return;
    m_background = style->color(2);
    m_barColor = style->color(1009);
    update();
}

std::pair<int, int> ReadingSpinner::nextParagraph()
{
    if (m_paragraphIndex >= m_paragraphs.size())
        m_paragraphs.append({ 3 + boundedRandom(5), 50 + boundedRandom(50) });
    return m_paragraphs.at(m_paragraphIndex++);
}

void ReadingSpinner::paintEvent(QPaintEvent*)
{
    KelPaintContext context(this);
    QPainter& painter = *context.painter();
    painter.fillRect(rect(), m_background);
    switch (m_mode) {
    case LoadBook:
    case ChangeFullscreen:
    case ImageViewerLoadPage:
        paintGhostPage(painter);
        break;
    case WebViewResize:
        if (!m_snapshot.isNull()) {
            painter.setOpacity(0.5);
            painter.drawPixmap(0, 0, m_snapshot);
        }
        break;
    case Nothing:
        break;
    }
}

void ReadingSpinner::paintGhostPage(QPainter& painter)
{
    const int m = m_params->margin() + kAreaPadding;
    const QRect area = contentsRect().adjusted(m, m, -m, -m - kBottomReserve);
    QVector<QRect> columns;
    if (m_params->columnCount() == 1) {
        columns << area;
    } else if (m_params->columnCount() == 2) {
        const int w = area.width() / 2 - m_params->columnGap() / 2;
        columns << QRect(area.left(), area.top(), w, area.height())
                << QRect(area.right() - w + 1, area.top(), w, area.height());
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_barColor);
    const int pitch = qRound(m_params->lineSpacing() * 0.01 * m_params->fontSize());
    const int barHeight = qRound(m_params->fontSize() * 0.7);

    m_paragraphIndex = 0;
    std::pair<int, int> paragraph = nextParagraph();
    int linesLeft = paragraph.first;
    bool firstLine = true;
    for (const QRect& column : qAsConst(columns)) {
        int y = column.top() + barHeight;
        while (y + pitch < column.bottom()) {
            QRect bar(column.left(), y - barHeight, column.width(), barHeight);
            if (firstLine)
                bar.setLeft(bar.left() + kFirstLineIndent);
            const bool lastLine = linesLeft <= 1;
            if (lastLine) {
                bar.setWidth(column.width() * paragraph.second / 100);
                paragraph = nextParagraph();
                linesLeft = paragraph.first;
            } else {
                --linesLeft;
            }
            firstLine = lastLine;
            painter.drawRoundedRect(bar, 3, 3);
            y += pitch + (lastLine ? barHeight : 0);
        }
    }
}
