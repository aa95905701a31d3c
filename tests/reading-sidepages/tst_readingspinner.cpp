#include "sidepagestest.h"

#include "bookpageparams.h"
#include "mainwindow/readingpage/readingspinner.h"
#include "settingsprovider.h"

#include <QTest>

namespace {
struct Bar {
    int top;
    int height;
    int left;
    int right;
};

// The bars crossed by a vertical scan line at x, with their horizontal extent on their middle row.
QVector<Bar> barsAt(const QImage& image, int x, const QColor& background)
{
    QVector<Bar> bars;
    for (int y = 0; y < image.height(); ++y) {
        if (near(image.pixelColor(x, y), background))
            continue;
        int end = y;
        while (end < image.height() && !near(image.pixelColor(x, end), background))
            ++end;
        const int mid = (y + end) / 2;
        int left = x, right = x;
        while (left > 0 && !near(image.pixelColor(left - 1, mid), background))
            --left;
        while (right + 1 < image.width() && !near(image.pixelColor(right + 1, mid), background))
            ++right;
        bars.append({ y, end - y, left, right });
        y = end;
    }
    return bars;
}
}

class TestReadingSpinner : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { m_env.reset(new ReadingEnvironment); }

    // The ghost page in one and in two columns (the second reached by a change of the setting).
    void ghostPage_data()
    {
        QTest::addColumn<int>("columns");
        QTest::newRow("one column") << 1;
        QTest::newRow("two columns, then one") << 2;
    }
    void ghostPage()
    {
        QFETCH(int, columns);
        SettingsProvider::instance()->setColumn_count(columns);
        ReadingSpinner spinner;
        spinner.resize(600, 900);
        spinner.setMode(ReadingSpinner::LoadBook);
        const QColor background = kelStyle()->color(2);
        const int areaLeft = 30, areaRight = 600 - 30 - 1;
        QImage image = spinner.grab().toImage();

        if (columns == 2) {
            // The gap between the columns stays empty; one column after the setting changes.
            QVERIFY(barsAt(image, 300, background).isEmpty());
            QVERIFY(!barsAt(image, areaRight - 45, background).isEmpty());
            SettingsProvider::instance()->setColumn_count(1);
            image = spinner.grab().toImage();
        }
        const QVector<Bar> bars = barsAt(image, areaLeft + 45, background);
        QVERIFY(bars.size() > 20);
        bool indentNext = true;
        int paragraphs = 0, fullLines = 0;
        for (int i = 0; i < bars.size(); ++i) {
            const Bar& bar = bars[i];
            QCOMPARE(bar.height, 14);
            QCOMPARE(bar.left, areaLeft + (indentNext ? 40 : 0));
            if (i + 1 == bars.size())
                break;
            const int pitch = bars[i + 1].top - bar.top;
            QVERIFY2(pitch == 22 || pitch == 36, qPrintable(QString::number(pitch)));
            indentNext = pitch == 36;
            if (indentNext) {
                ++paragraphs;
                const int percent = (bar.right - areaLeft + 1) * 100 / (areaRight - areaLeft + 1);
                QVERIFY2(percent >= 50 && percent <= 99, qPrintable(QString::number(percent)));
            } else {
                QCOMPARE(bar.right, areaRight);
                ++fullLines;
            }
        }
        QVERIFY(paragraphs >= 2 && fullLines >= 2 * paragraphs);
        // Repaints show the same ghost text.
        QCOMPARE(spinner.grab().toImage(), image);
    }

    void sameModeLogsOnce()
    {
        QWidget parent;
        ReadingSpinner spinner(&parent);
        MessageCatcher warnings(QtWarningMsg);
        spinner.setMode(ReadingSpinner::ChangeFullscreen);
        spinner.setMode(ReadingSpinner::ChangeFullscreen);
        QCOMPARE(warnings.count(QStringLiteral("Spinner mode:")), 1);
        QVERIFY(spinner.isVisibleTo(&parent));
        spinner.setMode(ReadingSpinner::Nothing);
        QVERIFY(!spinner.isVisibleTo(&parent));
    }

private:
    QScopedPointer<ReadingEnvironment> m_env;
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestReadingSpinner>(argc, argv, QStringLiteral("reading-spinner-test"));
}
#include "tst_readingspinner.moc"
