// Icon labels, progress bars and spin boxes, drawn at the screen's device pixel ratio.
#include "../kel-button/buttontesthelpers.h"
#include "../kelapp/kelapptest.h"

#include "kelapplication.h"
#include "styles/kelstyle.h"
#include "widgets/keliconlabel.h"
#include "widgets/kelprogressbar.h"
#include "widgets/kelspinbox.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest>

namespace {

const QColor kIconColor(0, 200, 0);
const int kStyledSpinBox = 35;

QRect subControl(KelSpinBox* spin, QStyle::SubControl control)
{
    QStyleOptionSpinBox option;
    option.initFrom(spin);
    option.rect = spin->rect();
    option.buttonSymbols = spin->buttonSymbols();
    option.subControls = QStyle::SC_SpinBoxEditField | QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown;
    return spin->style()->subControlRect(QStyle::CC_SpinBox, &option, control, spin);
}

// A shown form of two spin boxes that hand the focus to each other.
struct Form {
    Form()
        : first(new KelSpinBox(kStyledSpinBox, &window))
        , second(new KelSpinBox(kStyledSpinBox, &window))
    {
        for (KelSpinBox* spin : { first, second })
            spin->setRange(0, 1000);
        first->setValue(42);
        first->setGeometry(10, 10, 100, 30);
        second->setGeometry(120, 10, 100, 30);
        QObject::connect(first, &KelSpinBox::nextWidgetRequested, second, [this]() { second->setFocus(); });
        QObject::connect(second, &KelSpinBox::prevWidgetRequested, first, [this]() { first->setFocus(); });
        window.resize(240, 50);
        window.show();
    }
    QLineEdit* edit(KelSpinBox* spin) const { return spin->findChild<QLineEdit*>(); }
    QWidget window;
    KelSpinBox* first;
    KelSpinBox* second;
};

} // namespace

class TestKelBars : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
#ifdef KEL_TEST_SCALE_FACTOR
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), double(KEL_TEST_SCALE_FACTOR));
#endif
    }

    void iconLabelMeasuresItsContentAgain()
    {
        KelIconLabel label(-1);
        label.setIcon(solidIcon("bars-green-16", QSize(16, 16), kIconColor));
        label.setSpacing(8);
        label.setFont(14, QFont::Bold);
        label.setText(QStringLiteral("WWW"));
        const QSize text = QFontMetrics(label.font()).size(0, QStringLiteral("WWW"));
        QCOMPARE(label.sizeHint(), QSize(16 + 8 + text.width(), qMax(16, text.height())));
        // A longer text and a bigger font reset the cached hints for the next layout pass.
        label.setText(QStringLiteral("WWW and WWW"));
        const QSize longer = QFontMetrics(label.font()).size(0, QStringLiteral("WWW and WWW"));
        QCOMPARE(label.sizeHint().width(), 16 + 8 + longer.width());
        QFont big = label.font();
        big.setPixelSize(28);
        label.QWidget::setFont(big);
        QVERIFY(label.sizeHint().width() > 16 + 8 + longer.width());
    }

    void progressStates_data()
    {
        QTest::addColumn<QList<int>>("states");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::newRow("busy") << QList<int> { 1 } << 0 << 0;
        QTest::newRow("busy and back") << QList<int> { 1, 0 } << 10 << 200;
        QTest::newRow("paused keeps the range") << QList<int> { 2 } << 10 << 200;
        QTest::newRow("paused then normal") << QList<int> { 2, 0 } << 10 << 200;
        QTest::newRow("busy then paused") << QList<int> { 1, 2 } << 10 << 200;
        QTest::newRow("busy paused normal") << QList<int> { 1, 2, 0 } << 10 << 200;
        QTest::newRow("busy twice keeps the first range") << QList<int> { 1, 1, 0 } << 10 << 200;
    }

    void progressStates()
    {
        QFETCH(QList<int>, states);
        KelProgressBar bar(-1);
        bar.setRange(10, 200);
        bar.setValue(120);
        for (int state : states)
            bar.setState(KelProgressBar::State(state));
        QCOMPARE(bar.state(), KelProgressBar::State(states.last()));
        QTEST(bar.minimum(), "minimum");
        QTEST(bar.maximum(), "maximum");
        if (bar.maximum() != 0)
            QCOMPARE(bar.value(), 120);
    }

    void spinBoxKeys()
    {
        Form form;
        QVERIFY(QTest::qWaitForWindowActive(&form.window));
        form.first->setFocus();
        QSignalSpy enter(form.first, &KelSpinBox::enterPressed);
        QSignalSpy escape(form.first, &KelSpinBox::escPressed);
        QSignalSpy next(form.first, &KelSpinBox::nextWidgetRequested);
        QTest::keyClick(form.first, Qt::Key_Return);
        QTest::keyClick(form.first, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(form.first, Qt::Key_Escape);
        QCOMPARE(enter.count(), 2);
        QCOMPARE(escape.count(), 1);
        // Other keys still step the value.
        QTest::keyClick(form.first, Qt::Key_Up);
        QCOMPARE(form.first->value(), 43);

        // Arrow keys move the cursor, and hand the focus over only past the text's ends.
        QLineEdit* edit = form.edit(form.first);
        edit->setCursorPosition(1);
        QTest::keyClick(form.first, Qt::Key_Right);
        QCOMPARE(edit->cursorPosition(), 2);
        QCOMPARE(next.count(), 0);
        QTest::keyClick(form.first, Qt::Key_Right);
        QCOMPARE(next.count(), 1);
        QTRY_VERIFY(form.second->hasFocus());
        form.edit(form.second)->setCursorPosition(1);
        QTest::keyClick(form.second, Qt::Key_Left);
        QVERIFY(form.second->hasFocus());
        QTest::keyClick(form.second, Qt::Key_Left);
        QTRY_VERIFY(form.first->hasFocus());
        // And with the keys the form chose.
        form.first->setNextWidgetKeys({ Qt::Key_Tab, Qt::Key_Down });
        edit->end(false);
        QTest::keyClick(form.first, Qt::Key_Down);
        QCOMPARE(next.count(), 2);
        QCOMPARE(form.first->value(), 43);
    }

    void spinBoxArrowClicksStopAtTheBounds()
    {
        Form form;
        QVERIFY(QTest::qWaitForWindowExposed(&form.window));
        KelSpinBox* spin = form.first;
        QSignalSpy pressed(spin, &KelSpinBox::buttonPressed);
        QSignalSpy released(spin, &KelSpinBox::buttonReleased);
        const QPoint up = subControl(spin, QStyle::SC_SpinBoxUp).center();
        const QPoint down = subControl(spin, QStyle::SC_SpinBoxDown).center();
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, up);
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, down);
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, down);
        QCOMPARE(spin->value(), 41);
        // At the maximum the up arrow is dead: no step, no signal; a click in the text is no arrow press.
        spin->setValue(1000);
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, up);
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, QPoint(20, 15));
        QCOMPARE(spin->value(), 1000);
        QCOMPARE(pressed.count(), 3);
        QCOMPARE(released.count(), 3);

        // Drawn disabled at the bound (hidden, so at once), the value inside the frame.
        KelSpinBox hidden(kStyledSpinBox);
        hidden.setRange(0, 10);
        hidden.setValue(10);
        hidden.resize(100, 30);
        const QColor normal = kelStyle()->colorSet(6).unchecked.normal;
        const QColor disabled = kelStyle()->colorSet(6).unchecked.disabled;
        QVERIFY(!nearColor(normal, disabled, 4));
        const QRect upRect = subControl(&hidden, QStyle::SC_SpinBoxUp);
        const QRect downRect = subControl(&hidden, QStyle::SC_SpinBoxDown);
        QImage image = grabImage(&hidden);
        QCOMPARE(countColor(image, upRect, normal, 2), 0);
        QVERIFY(countColor(image, upRect, disabled, 2) > 4);
        QVERIFY(countColor(image, downRect, normal, 2) > 4);
        const QRect field = subControl(&hidden, QStyle::SC_SpinBoxEditField);
        QVERIFY(countColor(image, field, kelStyle()->defaultTextColor(), 60) > 4);
        hidden.setValue(0);
        image = grabImage(&hidden);
        QVERIFY(countColor(image, upRect, normal, 2) > 4);
        QCOMPARE(countColor(image, downRect, normal, 2), 0);
    }

    void applicationStyleOutlivesSpinBoxes()
    {
        // A spin box's own style must not take the application's over: it goes with the spin box. The
        // application's style is the toolkit's from its first use on, so it is set up before the look.
        kelStyle();
        const QPointer<QStyle> app = QApplication::style();
        delete new KelSpinBox(kStyledSpinBox);
        delete new KelDoubleSpinBox(kStyledSpinBox);
        QVERIFY(app);
        QCOMPARE(app->proxy(), app.data());
        QCOMPARE(QApplication::style(), app.data());
        QVERIFY(!QLineEdit().grab().isNull());
    }
};

int main(int argc, char** argv)
{
#ifdef KEL_TEST_SCALE_FACTOR
    qputenv("QT_SCALE_FACTOR", QByteArray::number(KEL_TEST_SCALE_FACTOR));
#endif
    return runKelAppTest<KelApplication, TestKelBars>(argc, argv, QStringLiteral("Kel Bars Test"));
}

#include "tst_kelbars.moc"
