// Eliding labels, self-sizing plain text edits and the shadow strip: placement along
// each edge of its target, its pixels at the screen's ratio (1, or 2 in the scaled build), the shared
// pixmap cache, following the target and fading.
#include "../kel-effects/animationclock.h"
#include "../kel-effects/widgetimages.h"
#include "../kelapp/kelapptest.h"

#include "kelapplication.h"
#include "kelui.h"
#include "styles/kelstatecolors.h"
#include "utils/kelpixmapcache.h"
#include "widgets/kellabel.h"
#include "widgets/kellinearshadowwidget.h"
#include "widgets/kelplaintextedit.h"

#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextCursor>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

namespace {

const QString kLongText = QStringLiteral("The quick brown fox jumps over the lazy dog again and again");
const int kShadowType = 41;

QSize marginsSize(const QWidget& widget)
{
    const QMargins m = widget.contentsMargins();
    return QSize(m.left() + m.right(), m.top() + m.bottom());
}

QString lines(int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QStringLiteral("line %1").arg(i);
    return list.join(QLatin1Char('\n'));
}

// The alpha of a logical pixel of an image, read at the image's ratio.
int alphaAt(const QImage& image, double x, double y)
{
    const double ratio = image.devicePixelRatio();
    return qAlpha(image.pixel(int(x * ratio), int(y * ratio)));
}

// The widget alone, without any background, at its own ratio.
QImage alone(QWidget& widget)
{
    QImage image = makeImage(widget.size(), widget.devicePixelRatioF());
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

int ink(const QImage& image) { return inkInside(image, image.rect()); }

} // namespace

class TestKelLabel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_driver.install();
        m_ratio = m_root.devicePixelRatioF();
#ifdef KEL_TEST_SCALE_FACTOR
        QCOMPARE(m_ratio, double(KEL_TEST_SCALE_FACTOR));
#endif
        m_root.resize(500, 400);
        m_root.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_root));
    }
    void cleanupTestCase() { m_driver.uninstall(); }

    void elidesToItsWidth()
    {
        KelLabel label(-1);
        label.setText(kLongText);
        label.setElideMode(Qt::ElideRight);
        label.setContentsMargins(4, 0, 6, 0);
        label.resize(90, 24);
        label.grab();
        QCOMPARE(label.elidedText(), QFontMetrics(label.font()).elidedText(kLongText, Qt::ElideRight, 80, 0));
        // A new text measures again without a resize; rich text is never shortened.
        label.setText(QStringLiteral("ab"));
        label.grab();
        QVERIFY(!label.isElided());
        label.setText(QStringLiteral("<b>bold</b> ") + kLongText);
        label.grab();
        QVERIFY(!label.isElided());
    }

    void minimumSizeHintOfElidingLabels()
    {
        KelLabel label(-1);
        label.setText(QStringLiteral("Hello world"));
        label.setContentsMargins(3, 4, 5, 6);
        QLabel reference;
        reference.setText(label.text());
        reference.setContentsMargins(3, 4, 5, 6);
        QCOMPARE(label.minimumSizeHint(), reference.minimumSizeHint());
        // Eliding: the first character and dots, without waiting for a paint.
        label.setElideMode(Qt::ElideRight);
        const QFontMetrics metrics(label.font());
        QCOMPARE(label.minimumSizeHint(), metrics.size(0, QStringLiteral("H...")) + marginsSize(label));
        label.setText(QString());
        QCOMPARE(label.minimumSizeHint(), metrics.size(0, QStringLiteral("...")) + marginsSize(label));
        // A character outside the basic plane is not cut in half.
        label.setText(QString::fromUtf8("\xF0\x9F\x93\x96 book"));
        QCOMPARE(
            label.minimumSizeHint(), metrics.size(0, QString::fromUtf8("\xF0\x9F\x93\x96...")) + marginsSize(label));
    }

    void autoHeightFollowsTheText()
    {
        KelPlainTextEdit edit(-1);
        edit.setPlainText(lines(1));
        QVERIFY(!edit.hasHeightForWidth());
        edit.setAutoHeight(true);
        QVERIFY(edit.hasHeightForWidth());
        edit.setPaddings(QMargins(6, 5, 6, 7));
        edit.setBorderWidths(QMargins(1, 1, 1, 1));
        const int lineSpacing = QFontMetrics(edit.document()->defaultFont()).lineSpacing();
        const int one = edit.heightForWidth(300);
        QVERIFY(one >= 14 + lineSpacing - 1);
        QVERIFY(one <= 14 + 2 * lineSpacing);
        QCOMPARE(edit.minimumSizeHint().height(), 14 + lineSpacing);
        edit.setPlainText(lines(5));
        QVERIFY(qAbs(edit.heightForWidth(300) - one - 4 * lineSpacing) <= 4);
        // A narrow width wraps the text onto more lines; narrower than the frame, it is measured at 10 pixels.
        edit.setPlainText(kLongText);
        QVERIFY(edit.heightForWidth(80) > edit.heightForWidth(2000));
        QCOMPARE(edit.heightForWidth(5), edit.heightForWidth(14 + 10));

        // Inside a layout the edit grows with its text.
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* grown = new KelPlainTextEdit(-1);
        grown->setAutoHeight(true);
        grown->setPlainText(lines(1));
        layout->addWidget(grown);
        layout->addStretch();
        window.resize(300, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(grown->height() > 0);
        const int before = grown->height();
        grown->setPlainText(lines(8));
        QTRY_VERIFY(grown->height() > before + 5 * QFontMetrics(grown->font()).lineSpacing());
        QCOMPARE(grown->height(), grown->heightForWidth(grown->width()));
    }

    void editBoxPaintsAndPlacesItsScrollBars()
    {
        KelPlainTextEdit edit(-1);
        edit.setBackgroundColors(KelStateColors(QColor(0, 200, 0)));
        edit.setBorderColors(KelStateColors(QColor(200, 0, 0)));
        edit.setBorderWidths(QMargins(2, 2, 2, 2));
        edit.setPaddings(QMargins(8, 8, 8, 8));
        edit.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        edit.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        edit.setLineWrapMode(QPlainTextEdit::NoWrap);
        edit.setPlainText(lines(40));
        edit.resize(200, 120);
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        QWidget* v = edit.verticalScrollBar()->parentWidget();
        QWidget* h = edit.horizontalScrollBar()->parentWidget();
        QTRY_COMPARE(v->geometry(), QRect(200 - 10 - v->width(), 10, v->width(), 120 - 20 - h->height()));
        QCOMPARE(h->geometry(), QRect(10, 120 - 10 - h->height(), 200 - 20 - v->width(), h->height()));
        const QImage image = edit.grab().toImage();
        QCOMPARE(colorAt(image, 1, 60), QColor(200, 0, 0));
        QCOMPARE(colorAt(image, 5, 60), QColor(0, 200, 0));
        // A resize places the bars again.
        edit.resize(260, 150);
        QTRY_COMPARE(v->geometry(), QRect(260 - 10 - v->width(), 10, v->width(), 150 - 20 - h->height()));

        // A typed key holds repaints back until the event loop comes round again.
        QTest::keyClick(&edit, Qt::Key_A);
        QVERIFY(!edit.updatesEnabled());
        QTRY_VERIFY(edit.updatesEnabled());
    }

    void editSetsTextKeepingCursorAndSilence()
    {
        KelPlainTextEdit edit(-1);
        QSignalSpy changed(&edit, &QPlainTextEdit::textChanged);
        edit.setText(QStringLiteral("first text"));
        // The same text again keeps the cursor and says nothing.
        QTextCursor cursor = edit.textCursor();
        cursor.setPosition(3);
        edit.setTextCursor(cursor);
        edit.setText(QStringLiteral("first text"));
        QCOMPARE(edit.textCursor().position(), 3);
        // Silently: the text changes without a signal, and the caller's blocking state is kept.
        edit.setTextSilently(QStringLiteral("second"));
        QCOMPARE(changed.count(), 1);
        QVERIFY(!edit.signalsBlocked());
        edit.blockSignals(true);
        edit.setTextSilently(QStringLiteral("third"));
        QVERIFY(edit.signalsBlocked());
    }

    void shadowAlongEachEdge_data()
    {
        QTest::addColumn<int>("edge");
        QTest::addColumn<int>("placement");
        QTest::addColumn<QRect>("strip"); // beside the target at (60, 60), 300 x 200
        QTest::newRow("top inside") << int(Qt::TopEdge) << 2 << QRect(60, 60, 300, 20);
        QTest::newRow("top outside") << int(Qt::TopEdge) << 1 << QRect(60, 40, 300, 20);
        QTest::newRow("right inside") << int(Qt::RightEdge) << 2 << QRect(340, 60, 20, 200);
        QTest::newRow("right outside") << int(Qt::RightEdge) << 1 << QRect(360, 60, 20, 200);
        QTest::newRow("left inside") << int(Qt::LeftEdge) << 2 << QRect(60, 60, 20, 200);
        QTest::newRow("left outside") << int(Qt::LeftEdge) << 1 << QRect(40, 60, 20, 200);
        QTest::newRow("bottom inside") << int(Qt::BottomEdge) << 2 << QRect(60, 240, 300, 20);
        QTest::newRow("bottom outside") << int(Qt::BottomEdge) << 1 << QRect(60, 260, 300, 20);
    }

    void shadowAlongEachEdge()
    {
        QFETCH(int, edge);
        QFETCH(int, placement);
        std::unique_ptr<QWidget> target(new SolidWidget(QColor(Qt::white), &m_root));
        target->setGeometry(60, 60, 300, 200);
        target->show();
        KelLinearShadowWidget shadow(kShadowType, Qt::Edge(edge), placement, target.get());
        QCOMPARE(shadow.parentWidget(), &m_root);
        QTEST(shadow.geometry(), "strip");
        QVERIFY(shadow.isVisible());
        QVERIFY(shadow.testAttribute(Qt::WA_TransparentForMouseEvents));

        shadow.setShadowColor(QColor(0, 0, 0, 200));
        const QImage image = alone(shadow);
        QCOMPARE(image.size(), shadow.size() * m_ratio);
        // Depth 0 is the side that touches the target's edge, 19 the far side; along the strip the
        // middle is even and the ends fade.
        const bool horizontal = edge == Qt::TopEdge || edge == Qt::BottomEdge;
        const bool depthGrowsWithCoordinate = (placement == 2) == (edge == Qt::TopEdge || edge == Qt::LeftEdge);
        auto sample = [&](double along, double depth) {
            const double across = depthGrowsWithCoordinate ? depth : 19.5 - depth;
            return horizontal ? alphaAt(image, along, across) : alphaAt(image, across, along);
        };
        const double middle = (horizontal ? shadow.width() : shadow.height()) / 2.0;
        const int near = sample(middle, 0.5);
        const int mid = sample(middle, 8.5);
        const int far = sample(middle, 19.5);
        QVERIFY2(near > 40 && near > mid && mid > far && far < 10,
            qPrintable(QStringLiteral("%1 %2 %3").arg(near).arg(mid).arg(far)));
        QVERIFY(qAbs(sample(middle + 80, 0.5) - near) <= 1);
        QVERIFY(sample(0.5, 0.5) < near);
        QVERIFY(sample(2 * middle - 0.5, 0.5) < near);
        // The shadow only darkens: no colour of its own beyond the shadow colour.
        const QColor c = image.pixelColor(int(image.width() / 2), int(image.height() / 2));
        QCOMPARE(c.red() + c.green() + c.blue(), 0);
    }

    void shadowNeedsSizeAndColourAndSharesItsPixmaps()
    {
        KelLinearShadowWidget strip(-1, Qt::TopEdge, 0);
        strip.resize(100, 20);
        QCOMPARE(ink(alone(strip)), 0);
        strip.setShadowSize(20);
        QCOMPARE(ink(alone(strip)), 0);
        strip.setShadowColor(Qt::transparent);
        QCOMPARE(ink(alone(strip)), 0);
        strip.setShadowColor(Qt::black);
        QVERIFY(ink(alone(strip)) > 0);
        // Untracked strips keep their thickness.
        QCOMPARE(strip.maximumHeight(), 20);

        // Strips of one size and colour share one cached pixmap.
        KelPixmapCache* cache = KelUi::instance()->shadowCache();
        const QColor shadowColor(1, 2, 3, 150);
        const QString key = KelLinearShadowWidget::shadowCacheKey(12, shadowColor, m_ratio);
        QVERIFY(!cache->find(key, nullptr));
        const int before = cache->count();
        for (int i = 0; i < 2; ++i) {
            KelLinearShadowWidget shadow(-1, Qt::BottomEdge, 0);
            shadow.resize(80, 12);
            shadow.setShadowSize(12);
            shadow.setShadowColor(shadowColor);
            alone(shadow);
        }
        QCOMPARE(cache->count(), before + 1);
        QVERIFY(cache->find(key, nullptr));

        // A tracking strip without a target is refused and left to its owner.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("needs a target"));
        KelLinearShadowWidget orphan(-1, Qt::TopEdge, 2, nullptr);
        QCOMPARE(orphan.placement(), 0);
    }

    void shadowFollowsTheTargetsGeometryVisibilityAndParent()
    {
        auto* target = new QWidget(&m_root);
        std::unique_ptr<QWidget> owner(target);
        std::unique_ptr<QWidget> sibling(new QWidget(&m_root));
        target->setGeometry(10, 20, 300, 200);
        target->show();
        sibling->show();
        QPointer<KelLinearShadowWidget> shadow = new KelLinearShadowWidget(kShadowType, Qt::TopEdge, 2, target);
        target->setGeometry(40, 50, 200, 100);
        QCOMPARE(shadow->geometry(), QRect(40, 50, 200, 20));
        // Hidden and shown with the target, and kept above what was raised meanwhile.
        target->hide();
        QVERIFY(!shadow->isVisible());
        sibling->raise();
        target->show();
        QVERIFY(shadow->isVisible());
        QCOMPARE(m_root.children().last(), shadow.data());
        // A new parent takes the strip along.
        std::unique_ptr<QWidget> other(new QWidget(&m_root));
        (new QWidget(other.get()))->show();
        other->setGeometry(0, 0, 400, 300);
        other->show();
        target->setParent(other.get());
        target->show();
        QCOMPARE(other->children().last(), shadow.data());
        QVERIFY(shadow->isVisible());

        // Hidden with its parent window before it is shown: appears with it.
        QWidget window;
        auto* hiddenTarget = new QWidget(&window);
        hiddenTarget->setGeometry(0, 0, 100, 100);
        auto* hiddenShadow = new KelLinearShadowWidget(kShadowType, Qt::LeftEdge, 2, hiddenTarget);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(hiddenShadow->isVisible());

        // The strip goes with its target.
        owner.reset();
        QVERIFY(shadow.isNull());
    }

private:
    FrozenAnimationDriver m_driver;
    SolidWidget m_root { QColor(Qt::white) };
    double m_ratio = 1.0;
};

int main(int argc, char** argv)
{
#ifdef KEL_TEST_SCALE_FACTOR
    qputenv("QT_SCALE_FACTOR", QByteArray::number(KEL_TEST_SCALE_FACTOR));
#endif
    return runKelAppTest<KelApplication, TestKelLabel>(argc, argv, QStringLiteral("kel-label-test"));
}

#include "tst_kellabel.moc"
