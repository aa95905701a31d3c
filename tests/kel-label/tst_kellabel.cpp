// Eliding labels and their size hints, self-sizing plain text edits and the stacked widget.
#include "../kel-effects/animationclock.h"
#include "../kelapp/kelapptest.h"

#include "animators/kelwidgetstateanimator.h"
#include "kelapplication.h"
#include "painting/kelgraphicsopacityeffect.h"
#include "painting/kelpainting.h"
#include "styles/kelstatecolors.h"
#include "styles/kelstyle.h"
#include "widgets/kellabel.h"
#include "widgets/kelplaintextedit.h"
#include "widgets/kelstackedwidget.h"

#include <QFocusEvent>
#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextCursor>
#include <QVBoxLayout>
#include <QtTest>

namespace {

const QString kLongText = QStringLiteral("The quick brown fox jumps over the lazy dog again and again");

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

} // namespace

class TestKelLabel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { m_driver.install(); }
    void cleanupTestCase() { m_driver.uninstall(); }

    void elidesToItsWidthAndRestoresWhenWidened();
    void elidedPaintMatchesAPlainLabelWithTheElidedText();
    void richTextIsNeverElided();
    void minimumSizeHintOfElidingLabels();
    void titleStyleElidesAndDisabledLabelsFade();
    void labelDiagnosticsDrawTheContentsMargins();

    void autoHeightFollowsTheText();
    void autoHeightEditGrowsInsideALayout();
    void styleKindsAndViewportMargins();
    void scrollBarsSitInsideTheBox();
    void setTextAndSignals();
    void paintsItsFrameAndBatchesTypedRepaints();

    void stackedWidgetPagesAndSize();

private:
    FrozenAnimationDriver m_driver;
};

void TestKelLabel::elidesToItsWidthAndRestoresWhenWidened()
{
    KelLabel label(-1);
    label.setText(kLongText);
    QCOMPARE(label.sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    label.setElideMode(Qt::ElideRight);
    QCOMPARE(label.elideMode(), Qt::ElideRight);
    QCOMPARE(label.sizePolicy().horizontalPolicy(), QSizePolicy::Maximum);
    label.setContentsMargins(4, 0, 6, 0);
    label.resize(90, 24);
    label.grab();
    QVERIFY(label.isElided());
    const QString expected = QFontMetrics(label.font()).elidedText(kLongText, Qt::ElideRight, 80, 0);
    QCOMPARE(label.elidedText(), expected);
    QVERIFY(label.elidedText().endsWith(QChar(0x2026)));

    // A new text measures again without a resize.
    label.setText(QStringLiteral("ab"));
    label.grab();
    QVERIFY(!label.isElided());
    label.setText(kLongText);
    label.grab();
    QVERIFY(label.isElided());

    label.resize(2000, 24);
    label.grab();
    QVERIFY(!label.isElided());

    // Without an elide mode a narrow label is not shortened.
    label.setElideMode(Qt::ElideNone);
    label.resize(60, 24);
    label.grab();
    QVERIFY(!label.isElided());
}

void TestKelLabel::elidedPaintMatchesAPlainLabelWithTheElidedText()
{
    for (Qt::Alignment alignment : { Qt::AlignLeft | Qt::AlignVCenter, Qt::AlignRight | Qt::AlignVCenter }) {
        KelLabel label(-1);
        label.setText(kLongText);
        label.setAlignment(alignment);
        label.setElideMode(Qt::ElideMiddle);
        label.resize(120, 24);
        const QImage elided = label.grab().toImage();
        QVERIFY(label.isElided());

        QLabel plain;
        plain.setText(label.elidedText());
        plain.setAlignment(alignment);
        plain.resize(120, 24);
        QCOMPARE(elided.convertToFormat(QImage::Format_ARGB32),
            plain.grab().toImage().convertToFormat(QImage::Format_ARGB32));
    }
}

void TestKelLabel::richTextIsNeverElided()
{
    KelLabel label(-1);
    label.setText(QStringLiteral("<b>bold</b> ") + kLongText);
    label.setElideMode(Qt::ElideRight);
    label.resize(60, 24);
    label.grab();
    QVERIFY(!label.isElided());
}

void TestKelLabel::minimumSizeHintOfElidingLabels()
{
    KelLabel label(-1);
    label.setText(QStringLiteral("Hello world"));
    label.setContentsMargins(3, 4, 5, 6);
    QLabel reference;
    reference.setText(label.text());
    reference.setContentsMargins(3, 4, 5, 6);
    QCOMPARE(label.minimumSizeHint(), reference.minimumSizeHint());

    label.setElideMode(Qt::ElideRight);
    const QFontMetrics metrics(label.font());
    // The hint does not wait for a paint.
    QCOMPARE(label.minimumSizeHint(), metrics.size(0, QStringLiteral("H...")) + marginsSize(label));
    label.resize(40, 30);
    label.grab();
    QCOMPARE(label.minimumSizeHint(), metrics.size(0, QStringLiteral("H...")) + marginsSize(label));

    label.setText(QString());
    QCOMPARE(label.minimumSizeHint(), metrics.size(0, QStringLiteral("...")) + marginsSize(label));

    // A character outside the basic plane is not cut in half.
    label.setText(QString::fromUtf8("\xF0\x9F\x93\x96 book"));
    QCOMPARE(label.minimumSizeHint(), metrics.size(0, QString::fromUtf8("\xF0\x9F\x93\x96...")) + marginsSize(label));
}

void TestKelLabel::titleStyleElidesAndDisabledLabelsFade()
{
    KelLabel title(8);
    QCOMPARE(title.elideMode(), Qt::ElideRight);
    QCOMPARE(title.alignment(), Qt::AlignHCenter | Qt::AlignTop | Qt::AlignVCenter);

    KelLabel label;
    QCOMPARE(label.widgetType(), 7);
    auto* effect = qobject_cast<KelGraphicsOpacityEffect*>(label.graphicsEffect());
    QVERIFY(effect);
    QCOMPARE(effect->opacity(), 1.0);
    label.setEnabled(false);
    runAnimations(&label);
    QVERIFY(effect->opacity() < 1.0);
    label.setEnabled(true);
    runAnimations(&label);
    QCOMPARE(effect->opacity(), 1.0);
}

void TestKelLabel::labelDiagnosticsDrawTheContentsMargins()
{
    KelLabel label(-1);
    label.setContentsMargins(10, 10, 10, 10);
    label.resize(60, 40);
    // Drawn without the window background, which would hide the overlay's faint band.
    auto render = [&label]() {
        QImage image(label.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        label.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    };
    QCOMPARE(render().pixelColor(2, 20).alpha(), 0);
    KelPainting::setDbgPaintKelLabel(true);
    const QImage image = render();
    KelPainting::setDbgPaintKelLabel(false);
    const QColor band = image.pixelColor(2, 20);
    QVERIFY(band.alpha() > 0);
    QVERIFY(band.green() > band.red());
}

void TestKelLabel::autoHeightFollowsTheText()
{
    KelPlainTextEdit edit(-1);
    edit.setPlainText(lines(1));
    QVERIFY(!edit.hasHeightForWidth());
    QCOMPARE(edit.heightForWidth(200), -1);
    QCOMPARE(edit.sizePolicy().verticalPolicy(), QSizePolicy::Expanding);

    edit.setAutoHeight(true);
    QVERIFY(edit.hasHeightForWidth());
    QCOMPARE(edit.sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
    edit.setPaddings(QMargins(6, 5, 6, 7));
    edit.setBorderWidths(QMargins(1, 1, 1, 1));
    const int lineSpacing = QFontMetrics(edit.document()->defaultFont()).lineSpacing();
    const int one = edit.heightForWidth(300);
    QVERIFY(one >= 14 + lineSpacing - 1);
    QVERIFY(one <= 14 + 2 * lineSpacing);

    edit.setPlainText(lines(5));
    const int five = edit.heightForWidth(300);
    QVERIFY(qAbs(five - one - 4 * lineSpacing) <= 4);

    // A narrow width wraps the text onto more lines.
    edit.setPlainText(kLongText);
    QVERIFY(edit.heightForWidth(80) > edit.heightForWidth(2000));
    // Narrower than the frame: measured at a text width of 10 pixels.
    QCOMPARE(edit.heightForWidth(5), edit.heightForWidth(14 + 10));

    QCOMPARE(edit.minimumSizeHint().height(), 14 + lineSpacing);

    edit.setAutoHeight(false);
    QVERIFY(!edit.hasHeightForWidth());
    QCOMPARE(edit.sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
}

void TestKelLabel::autoHeightEditGrowsInsideALayout()
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* edit = new KelPlainTextEdit(-1);
    edit->setAutoHeight(true);
    edit->setPlainText(lines(1));
    layout->addWidget(edit);
    layout->addStretch();
    window.resize(300, 600);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(edit->height() > 0);
    const int before = edit->height();
    edit->setPlainText(lines(8));
    QTRY_VERIFY(edit->height() > before + 5 * QFontMetrics(edit->font()).lineSpacing());
    QCOMPARE(edit->height(), edit->heightForWidth(edit->width()));
}

void TestKelLabel::styleKindsAndViewportMargins()
{
    KelPlainTextEdit grow(34);
    QVERIFY(grow.autoHeight());
    QCOMPARE(grow.sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);

    KelPlainTextEdit edit(33);
    QVERIFY(!edit.autoHeight());
    QCOMPARE(edit.paddings(), kelStyle()->margins(7));
    edit.resize(200, 100);
    const QMargins paddings = kelStyle()->margins(7);
    QCOMPARE(edit.viewport()->geometry().topLeft(), QPoint(paddings.left(), paddings.top()));
    QCOMPARE(edit.frameShape(), QFrame::NoFrame);
    QCOMPARE(edit.document()->documentMargin(), 0.0);
    QVERIFY(edit.viewport()->testAttribute(Qt::WA_Hover));
    QVERIFY(!edit.viewport()->autoFillBackground());
}

void TestKelLabel::scrollBarsSitInsideTheBox()
{
    KelPlainTextEdit edit(-1);
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

    // A resize places them again.
    edit.resize(260, 150);
    QTRY_COMPARE(v->geometry(), QRect(260 - 10 - v->width(), 10, v->width(), 150 - 20 - h->height()));
}

void TestKelLabel::setTextAndSignals()
{
    KelPlainTextEdit edit(-1);
    QSignalSpy changed(&edit, &QPlainTextEdit::textChanged);
    QSignalSpy plainChanged(&edit, &KelPlainTextEdit::plainTextChanged);
    QSignalSpy focusLost(&edit, &KelPlainTextEdit::focusLost);

    edit.setText(QStringLiteral("first text"));
    QCOMPARE(plainChanged.count(), 1);
    QCOMPARE(plainChanged.last().first().toString(), QStringLiteral("first text"));

    QTextCursor cursor = edit.textCursor();
    cursor.setPosition(3);
    edit.setTextCursor(cursor);
    const int changes = changed.count();
    edit.setText(QStringLiteral("first text"));
    QCOMPARE(changed.count(), changes);
    QCOMPARE(edit.textCursor().position(), 3);

    edit.setTextSilently(QStringLiteral("second"));
    QCOMPARE(edit.toPlainText(), QStringLiteral("second"));
    QCOMPARE(changed.count(), changes);
    QCOMPARE(plainChanged.count(), 1);
    QVERIFY(!edit.signalsBlocked());

    // The blocking state the caller had is kept.
    edit.blockSignals(true);
    edit.setTextSilently(QStringLiteral("third"));
    QVERIFY(edit.signalsBlocked());
    edit.blockSignals(false);

    QFocusEvent out(QEvent::FocusOut);
    QCoreApplication::sendEvent(&edit, &out);
    QCOMPARE(focusLost.count(), 1);
}

void TestKelLabel::paintsItsFrameAndBatchesTypedRepaints()
{
    KelPlainTextEdit edit(-1);
    edit.setBackgroundColors(KelStateColors(QColor(0, 200, 0)));
    edit.setBorderColors(KelStateColors(QColor(200, 0, 0)));
    edit.setBorderWidths(QMargins(3, 3, 3, 3));
    edit.setPaddings(QMargins(10, 10, 10, 10));
    edit.resize(200, 80);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    const QImage image = edit.grab().toImage();
    QCOMPARE(image.pixelColor(1, 40), QColor(200, 0, 0));
    QCOMPARE(image.pixelColor(6, 40), QColor(0, 200, 0));
    QCOMPARE(image.pixelColor(100, 6), QColor(0, 200, 0));

    // A typed key holds repaints back until the event loop comes round again.
    QTest::keyClick(&edit, Qt::Key_A);
    QCOMPARE(edit.toPlainText(), QStringLiteral("a"));
    QVERIFY(!edit.updatesEnabled());
    QTRY_VERIFY(edit.updatesEnabled());
}

void TestKelLabel::stackedWidgetPagesAndSize()
{
    KelStackedWidget stack;
    auto* small = new QWidget;
    small->setMinimumSize(50, 40);
    auto* large = new QWidget;
    large->setMinimumSize(220, 30);
    QCOMPARE(stack.addWidget(small), 0);
    QCOMPARE(stack.addWidget(large), 1);
    QCOMPARE(stack.currentWidget(), small);
    QSignalSpy current(&stack, &QStackedWidget::currentChanged);
    stack.setCurrentIndex(1);
    QCOMPARE(stack.currentWidget(), large);
    QCOMPARE(current.count(), 1);
    // Sized for the largest page, whichever is shown.
    QCOMPARE(stack.minimumSizeHint(), QSize(220, 40));
    stack.resize(300, 200);
    stack.show();
    QVERIFY(QTest::qWaitForWindowExposed(&stack));
    QCOMPARE(large->geometry(), QRect(0, 0, 300, 200));
    QVERIFY(large->isVisible());
    QVERIFY(!small->isVisible());
}

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelLabel>(argc, argv, QStringLiteral("kel-label-test"));
}

#include "tst_kellabel.moc"
