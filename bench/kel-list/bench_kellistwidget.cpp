// The model-driven list over 10,000 light rows (9 plain child widgets each), one widget per row
// against the windowed mode: model reset to shown, a filter leaving 111 rows, clearing it, and
// scroll steps of 120 px, each until the viewport is painted.
// Usage: bench_kellistwidget [row count, default 10000]

#include "itemviews/kellistwidget.h"
#include "itemviews/kellistwidgetitem.h"
#include "layouts/kelflowlayout.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTextStream>

#include <algorithm>

namespace {

class LightRow : public QWidget, public KelListWidgetItem {
public:
    explicit LightRow(QWidget* parent)
        : QWidget(parent)
    {
        auto* layout = new QHBoxLayout(this);
        for (int i = 0; i < 9; ++i)
            layout->addWidget(labels[i] = new QLabel(this));
    }
    void readFrom(const QModelIndex& index) override
    {
        const QString text = index.data().toString();
        for (QLabel* label : labels)
            label->setText(text);
    }
    void resetItem() override
    {
        for (QLabel* label : labels)
            label->clear();
    }

    QLabel* labels[9];
};

enum Layout { Table, Cards };

struct Run {
    const char* name;
    bool windowed;
    Layout layout;
};

qint64 shown(KelListWidget& list, QElapsedTimer& timer)
{
    // The one-widget-per-row mode shows bulk changes once the event loop is idle again.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    list.viewport()->repaint();
    return timer.elapsed();
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rows = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10000;
    QTextStream out(stdout);

    QStandardItemModel source;
    QStandardItemModel empty;
    for (int i = 0; i < rows; ++i)
        source.appendRow(new QStandardItem(QStringLiteral("book %1").arg(i)));
    QSortFilterProxyModel proxy;
    proxy.setSourceModel(&empty);

    const Run runs[] = { { "one widget per row, table", false, Table }, { "windowed, table", true, Table },
        { "windowed, cards", true, Cards } };
    for (const Run& run : runs) {
        KelListWidget list(0);
        list.setItemFactory([](QWidget* parent, const QModelIndex& index) {
            auto* row = new LightRow(parent);
            row->readFrom(index);
            return row;
        });
        list.registerLayout(Table, new QVBoxLayout);
        list.registerLayout(Cards, new KelFlowLayout(nullptr, QMargins(), 6, 6));
        list.setCurrentLayoutId(run.layout);
        if (run.windowed) {
            list.setWindowed(true,
                [](const QModelIndex&, int layoutId) { return layoutId == Cards ? QSize(214, 293) : QSize(0, 80); });
        }
        list.resize(1280, 900);
        list.setModel(&proxy);
        list.show();
        QCoreApplication::processEvents();

        out << run.name << ", " << rows << " rows\n";
        QElapsedTimer timer;
        timer.start();
        proxy.setSourceModel(&source);
        out << "  reset to shown: " << shown(list, timer) << " ms\n";

        timer.start();
        proxy.setFilterRegularExpression(QRegularExpression(QStringLiteral("^book 9\\d{0,2}$")));
        out << "  filter to " << proxy.rowCount() << " rows: " << shown(list, timer) << " ms\n";
        timer.start();
        proxy.setFilterRegularExpression(QRegularExpression());
        out << "  filter cleared: " << shown(list, timer) << " ms\n";

        QVector<double> steps;
        QElapsedTimer step;
        for (int y = 0; y < 120 * 200 && y <= list.verticalScrollBar()->maximum(); y += 120) {
            step.start();
            list.verticalScrollBar()->setValue(y);
            list.viewport()->repaint();
            steps << step.nsecsElapsed() / 1e6;
        }
        std::sort(steps.begin(), steps.end());
        if (!steps.isEmpty()) {
            out << "  scroll step of 120 px: median " << steps[steps.size() / 2] << " ms, 99th percentile "
                << steps[qMin(steps.size() - 1, steps.size() * 99 / 100)] << " ms\n";
        }
        out << "  widgets made: " << list.itemCount() + list.spareCount() << "\n";
        out.flush();
        proxy.setSourceModel(&empty);
    }
    return 0;
}
