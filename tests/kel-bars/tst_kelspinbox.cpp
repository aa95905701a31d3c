// Spin boxes: Enter, Escape and focus hand-over keys, arrow geometry, clicks and painting at the bounds.
#include "../kel-button/buttontesthelpers.h"
#include "../kelapp/kelapptest.h"

#include "kelapplication.h"
#include "styles/kelqproxystyle.h"
#include "styles/kelstyle.h"
#include "widgets/kelspinbox.h"

#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest>

namespace {

const int kStyledRole = 35;

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
        : first(new KelSpinBox(kStyledRole, &window))
        , second(new KelSpinBox(kStyledRole, &window))
    {
        first->setRange(0, 1000);
        second->setRange(0, 1000);
        first->setValue(42);
        second->setValue(7);
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

class TestKelSpinBox : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
#ifdef KEL_TEST_SCALE_FACTOR
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), double(KEL_TEST_SCALE_FACTOR));
#endif
    }

    void enterAndEscapeBecomeSignals()
    {
        Form form;
        QVERIFY(QTest::qWaitForWindowActive(&form.window));
        form.first->setFocus();
        QSignalSpy enter(form.first, &KelSpinBox::enterPressed);
        QSignalSpy escape(form.first, &KelSpinBox::escPressed);
        QSignalSpy changed(form.first, &KelSpinBox::intValueChanged);
        QTest::keyClick(form.first, Qt::Key_Return);
        QTest::keyClick(form.first, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(form.first, Qt::Key_Escape);
        QCOMPARE(enter.count(), 2);
        QCOMPARE(escape.count(), 1);

        // Other keys still edit and step the value.
        QTest::keyClick(form.first, Qt::Key_Up);
        QCOMPARE(form.first->value(), 43);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.first().at(0).toInt(), 43);
    }

    void arrowKeysAtTheEndsHandFocusOver()
    {
        Form form;
        QVERIFY(QTest::qWaitForWindowActive(&form.window));
        form.first->setFocus();
        QLineEdit* edit = form.edit(form.first);
        QSignalSpy prev(form.first, &KelSpinBox::prevWidgetRequested);
        QSignalSpy next(form.first, &KelSpinBox::nextWidgetRequested);

        edit->setCursorPosition(1);
        QTest::keyClick(form.first, Qt::Key_Left);
        QCOMPARE(edit->cursorPosition(), 0);
        QCOMPARE(prev.count(), 0);
        QTest::keyClick(form.first, Qt::Key_Left);
        QCOMPARE(prev.count(), 1);
        QCOMPARE(edit->cursorPosition(), 0);

        QTest::keyClick(form.first, Qt::Key_Right);
        QCOMPARE(edit->cursorPosition(), 1);
        QCOMPARE(next.count(), 0);
        QTest::keyClick(form.first, Qt::Key_Right);
        QCOMPARE(edit->cursorPosition(), 2);
        QTest::keyClick(form.first, Qt::Key_Right);
        QCOMPARE(next.count(), 1);
        QTRY_VERIFY(form.second->hasFocus());

        // And back with the keys the form chose.
        form.edit(form.second)->setCursorPosition(0);
        QTest::keyClick(form.second, Qt::Key_Left);
        QTRY_VERIFY(form.first->hasFocus());
        form.first->setNextWidgetKeys({ Qt::Key_Tab, Qt::Key_Down });
        edit->end(false);
        QTest::keyClick(form.first, Qt::Key_Down);
        QCOMPARE(next.count(), 2);
        QCOMPARE(form.first->value(), 42);
    }

    void arrowsSitInTheRightColumn()
    {
        KelSpinBox spin(kStyledRole);
        spin.resize(100, 30);
        KelStyle* style = kelStyle();
        const KelArrowSpec upSpec = style->arrowSpec(2);
        const QSize upSize(upSpec.size.width() + upSpec.margins.left() + upSpec.margins.right(),
            upSpec.size.height() + upSpec.margins.top() + upSpec.margins.bottom());
        QCOMPARE(spin.upArrowPainter()->sizeHint(), upSize);

        const QRect inner = spin.rect().marginsRemoved(spin.margins() + spin.borderWidths());
        const QRect edit = subControl(&spin, QStyle::SC_SpinBoxEditField);
        const QRect up = subControl(&spin, QStyle::SC_SpinBoxUp);
        const QRect down = subControl(&spin, QStyle::SC_SpinBoxDown);
        QCOMPARE(edit.width(), inner.width() - upSize.width());
        QCOMPARE(up.size(), upSize);
        QCOMPARE(up.right(), inner.right());
        QCOMPARE(up.bottom(), inner.center().y());
        QCOMPARE(down.top(), inner.center().y() + 1);
        QCOMPARE(down.left(), edit.right() + 1);
        QCOMPARE(spin.style()->styleHint(QStyle::SH_SpinControls_DisableOnBounds, nullptr, &spin), 1);
        QVERIFY(KelQProxyStyle::isSpinBoxPainter(&spin));

        // Without buttons the field takes the whole inner width and the size hint loses the arrows.
        KelSpinBox bare(kStyledRole);
        bare.setButtonSymbols(QAbstractSpinBox::NoButtons);
        bare.resize(100, 30);
        QCOMPARE(subControl(&bare, QStyle::SC_SpinBoxEditField), inner);
        QVERIFY(subControl(&bare, QStyle::SC_SpinBoxUp).isEmpty());
        QCOMPARE(spin.sizeHint().width() - bare.sizeHint().width(), upSize.width());
        QCOMPARE(spin.sizeHint().height(), bare.sizeHint().height());
    }

    void arrowClicksStepAndSignal()
    {
        Form form;
        QVERIFY(QTest::qWaitForWindowExposed(&form.window));
        KelSpinBox* spin = form.first;
        QSignalSpy pressed(spin, &KelSpinBox::buttonPressed);
        QSignalSpy released(spin, &KelSpinBox::buttonReleased);
        const QPoint up = subControl(spin, QStyle::SC_SpinBoxUp).center();
        const QPoint down = subControl(spin, QStyle::SC_SpinBoxDown).center();

        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, up);
        QCOMPARE(spin->value(), 43);
        QCOMPARE(pressed.count(), 1);
        QCOMPARE(released.count(), 1);
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, down);
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, down);
        QCOMPARE(spin->value(), 41);
        QCOMPARE(pressed.count(), 3);

        // At the maximum the up arrow is dead: no step, no signal.
        spin->setValue(1000);
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, up);
        QCOMPARE(spin->value(), 1000);
        QCOMPARE(pressed.count(), 3);
        QCOMPARE(released.count(), 3);
        // A click in the text field is no arrow press.
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, QPoint(20, 15));
        QCOMPARE(pressed.count(), 3);
    }

    void arrowsAreDrawnDisabledAtTheBounds()
    {
        KelSpinBox spin(kStyledRole);
        spin.setRange(0, 10);
        spin.setValue(10);
        spin.resize(100, 30);
        const KelStateColors arrows = kelStyle()->colorSet(6);
        const QColor normal = arrows.unchecked.normal;
        const QColor disabled = arrows.unchecked.disabled;
        QVERIFY(!nearColor(normal, disabled, 4));

        QImage image = grabImage(&spin);
        const QRect up = subControl(&spin, QStyle::SC_SpinBoxUp);
        const QRect down = subControl(&spin, QStyle::SC_SpinBoxDown);
        QCOMPARE(countColor(image, up, normal, 2), 0);
        QVERIFY(countColor(image, up, disabled, 2) > 4);
        QVERIFY(countColor(image, down, normal, 2) > 4);
        // The value shows inside the frame, and the frame's border is drawn around it.
        const QRect field = subControl(&spin, QStyle::SC_SpinBoxEditField);
        QVERIFY(countColor(image, field, kelStyle()->defaultTextColor(), 60) > 4);
        const QColor border = kelStyle()->colorSet(5).unchecked.normal;
        QVERIFY(nearColor(pixelAt(image, 50, 0.5), border, 8));

        spin.setValue(0);
        image = grabImage(&spin);
        QVERIFY(countColor(image, up, normal, 2) > 4);
        QCOMPARE(countColor(image, down, normal, 2), 0);

        // Without buttons nothing is drawn where the arrows were.
        spin.setButtonSymbols(QAbstractSpinBox::NoButtons);
        image = grabImage(&spin);
        QCOMPARE(countColor(image, up, normal, 2), 0);
        QCOMPARE(countColor(image, down, normal, 2), 0);
    }

    void valueSetsSilently()
    {
        KelSpinBox spin(-1);
        spin.setRange(0, 100);
        QSignalSpy changed(&spin, &KelSpinBox::intValueChanged);
        spin.setValueSilently(12);
        QCOMPARE(spin.value(), 12);
        QVERIFY(changed.isEmpty());
        QVERIFY(!spin.signalsBlocked());
        spin.blockSignals(true);
        spin.setValueSilently(13);
        QVERIFY(spin.signalsBlocked());
        spin.blockSignals(false);
        spin.setValue(14);
        QCOMPARE(changed.count(), 1);
    }

    void applicationStyleOutlivesSpinBoxes()
    {
        // A spin box's own style must not take the application's over: it goes with the spin box.
        const QPointer<QStyle> app = QApplication::style();
        delete new KelSpinBox(kStyledRole);
        delete new KelDoubleSpinBox(kStyledRole);
        QVERIFY(app);
        QCOMPARE(app->proxy(), app.data());
        QCOMPARE(QApplication::style(), app.data());
        QVERIFY(!QLineEdit().grab().isNull());
    }

    void unstyledSpinBoxHasNoArrowsUntilStyled()
    {
        KelSpinBox spin(-1);
        spin.resize(100, 30);
        QVERIFY(subControl(&spin, QStyle::SC_SpinBoxUp).isEmpty());
        spin.setWidgetType(kStyledRole);
        QVERIFY(!subControl(&spin, QStyle::SC_SpinBoxUp).isEmpty());
        QCOMPARE(spin.borderWidths(), QMargins(1, 1, 1, 1) * kelStyle()->metric(22));
    }
};

int main(int argc, char** argv)
{
#ifdef KEL_TEST_SCALE_FACTOR
    qputenv("QT_SCALE_FACTOR", QByteArray::number(KEL_TEST_SCALE_FACTOR));
#endif
    return runKelAppTest<KelApplication, TestKelSpinBox>(argc, argv, QStringLiteral("Kel Spin Box Test"));
}

#include "tst_kelspinbox.moc"
