#include "../kelapp/kelapptest.h"

#include "kelapplication.h"
#include "styles/kelstyle.h"
#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"
#include "widgets/kellineedit.h"

#include <QPointer>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

namespace {

const int kPlainRole = 28;
const int kClearRole = 29;
const int kClearOnEscapeRole = 30;
const int kPasswordRole = 31;
const int kPasswordUnfocusedRole = 32;

// A shown window holding the field and a second field to take the focus away.
struct Form {
    explicit Form(int role)
        : edit(new KelLineEdit(role, &window))
        , other(new KelLineEdit(kPlainRole, &window))
    {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(edit);
        layout->addWidget(other);
        layout->addStretch();
        window.resize(300, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    QWidget window;
    KelLineEdit* edit;
    KelLineEdit* other;
};

// The escape key as the parent window sees it.
class KeyCatcher : public QObject {
public:
    int escapes = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            ++escapes;
        return false;
    }
};

// A click as the window delivers it: the button sees the cursor arrive first.
void clickThroughWindow(QWidget* widget)
{
    QWindow* window = widget->window()->windowHandle();
    const QPoint pos = widget->mapTo(widget->window(), widget->rect().center());
    QTest::mouseMove(window, pos);
    QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, pos);
    QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, pos);
}

} // namespace

class TestKelLineEdit : public QObject {
    Q_OBJECT

private slots:
    void clearButtonFollowsTheText()
    {
        Form form(kClearRole);
        KelLineEdit* edit = form.edit;
        KelButton* button = edit->clearButton();
        QVERIFY(button);
        QCOMPARE(button->parentWidget(), edit);
        QVERIFY(!button->isVisible());
        const int emptyRight = edit->textMargins().right();

        edit->setFocus();
        QTest::keyClicks(edit, "ab");
        QVERIFY(button->isVisible());
        QCOMPARE(edit->textMargins().right(), emptyRight + button->width() + edit->sideWidgetSpacing());
        // The button sits inside the box at the right edge, as tall as the inner box.
        const QMargins box = edit->margins() + edit->borderWidths();
        QCOMPARE(button->geometry().right(), edit->width() - box.right() - 1);
        QCOMPARE(button->height(), edit->height() - box.top() - box.bottom());

        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QVERIFY(!button->isVisible());
        QCOMPARE(edit->textMargins().right(), emptyRight);

        QTest::keyClicks(edit, "hello");
        QSignalSpy edited(edit, &QLineEdit::textEdited);
        clickThroughWindow(button);
        QTRY_VERIFY(edit->text().isEmpty());
        QCOMPARE(edited.count(), 1);
        QCOMPARE(edited.first().first().toString(), QString());
        QVERIFY(!button->isVisible());

        // Made once only.
        edit->addClearButton(true);
        QCOMPARE(edit->clearButton(), button);
        QCOMPARE(edit->findChildren<KelButton*>().size(), 1);

        edit->setTextSilently(QStringLiteral("quiet"));
        QVERIFY(button->isVisible());
    }

    void escapeClearsOnlyWhenAsked()
    {
        QFETCH(int, role);
        QFETCH(bool, clears);
        Form form(role);
        KeyCatcher catcher;
        form.window.installEventFilter(&catcher);
        KelLineEdit* edit = form.edit;
        edit->setFocus();
        QTest::keyClicks(edit, "text");
        QSignalSpy cancelled(edit, &KelLineEdit::cancelPressed);
        QSignalSpy edited(edit, &QLineEdit::textEdited);
        QTest::keyClick(edit, Qt::Key_Escape);
        QCOMPARE(edit->text().isEmpty(), clears);
        QCOMPARE(cancelled.count(), clears ? 1 : 0);
        QCOMPARE(edited.count(), clears ? 1 : 0);
        QCOMPARE(catcher.escapes, clears ? 0 : 1);

        // On an empty field Escape always goes on to the parent.
        edit->clear();
        QTest::keyClick(edit, Qt::Key_Escape);
        QCOMPARE(cancelled.count(), clears ? 1 : 0);
        QCOMPARE(catcher.escapes, clears ? 1 : 2);
    }
    void escapeClearsOnlyWhenAsked_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<bool>("clears");
        QTest::newRow("clear on escape") << kClearOnEscapeRole << true;
        QTest::newRow("clear button only") << kClearRole << false;
        QTest::newRow("no clear button") << kPlainRole << false;
    }

    void errorLabelStaysUnderTheField()
    {
        Form form(kPlainRole);
        KelLineEdit* edit = form.edit;
        QVERIFY(!edit->errorLabel());
        edit->showError(QStringLiteral("Wrong password!"));
        KelLabel* label = edit->errorLabel();
        QVERIFY(label);
        QCOMPARE(label->objectName(), QStringLiteral("LineEditErrorLabel"));
        QCOMPARE(label->parentWidget(), &form.window);
        QVERIFY(label->isVisible());
        QCOMPARE(label->text(), QStringLiteral("Wrong password!"));
        QCOMPARE(label->pos(), QPoint(edit->x(), edit->y() + edit->height()));
        QCOMPARE(label->width(), edit->width());
        QCOMPARE(label->palette().color(label->foregroundRole()), kelStyle()->color(KelStyle::CL_Text_Error));

        // The layout moves the field: the label follows.
        form.window.layout()->setContentsMargins(20, 40, 20, 20);
        QTRY_COMPARE(edit->pos(), QPoint(20, 40));
        QCOMPARE(label->pos(), QPoint(edit->x(), edit->y() + edit->height()));
        QCOMPARE(label->width(), edit->width());

        edit->showError(QStringLiteral("Other"), Qt::blue);
        QCOMPARE(label->palette().color(label->foregroundRole()), QColor(Qt::blue));

        edit->hideError();
        QVERIFY(!label->isVisible());
        QVERIFY(label->text().isEmpty());

        // A new parent takes the label along.
        QWidget other;
        edit->setParent(&other);
        QCOMPARE(label->parentWidget(), &other);

        // The label goes with the field, not with the parent.
        edit->showError(QStringLiteral("Wrong password!"));
        const QPointer<KelLabel> guard(label);
        delete edit;
        QVERIFY(!guard);
    }

    void passwordOnlyWhileUnfocused()
    {
        Form form(kPasswordUnfocusedRole);
        KelLineEdit* edit = form.edit;
        QVERIFY(edit->passwordWhenUnfocused());
        form.window.activateWindow();
        form.other->setFocus();
        QTRY_VERIFY(form.other->hasFocus());
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
        QSignalSpy focused(edit, &KelLineEdit::focused);
        QSignalSpy lost(edit, &KelLineEdit::focusLost);
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        QCOMPARE(edit->echoMode(), QLineEdit::Normal);
        QCOMPARE(focused.count(), 1);
        QTest::keyClicks(edit, "secret");
        form.other->setFocus();
        QTRY_VERIFY(!edit->hasFocus());
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
        QCOMPARE(lost.count(), 1);
        QCOMPARE(edit->text(), QStringLiteral("secret"));
        QVERIFY(edit->displayText() != edit->text());

        // Off: the mode stays where it was.
        edit->setPasswordWhenUnfocused(false);
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        QCOMPARE(edit->echoMode(), QLineEdit::Password);

        Form password(kPasswordRole);
        QCOMPARE(password.edit->echoMode(), QLineEdit::Password);
        QVERIFY(!password.edit->passwordWhenUnfocused());
    }

    void sizeHintAndStyling()
    {
        KelLineEdit plain(kPlainRole);
        const QSize hint = plain.sizeHint();
        const QFontMetrics metrics(plain.font());
        const QMargins box = plain.boxMargins();
        QCOMPARE(hint.height(), box.top() + box.bottom() + metrics.height());
        QCOMPARE(hint.width(),
            box.left() + box.right() + kelStyle()->metric(26) * metrics.horizontalAdvance(QLatin1Char('x')) + 3);
        QCOMPARE(plain.minimumSizeHint(), hint);
        QCOMPARE(plain.sideWidgetSpacing(), kelStyle()->metric(24));
        QCOMPARE(plain.textMargins().left(), box.left() - 2);

        // A negative role is never styled.
        KelLineEdit unstyled(-1);
        QCOMPARE(unstyled.borderWidths(), QMargins());
        QVERIFY(!unstyled.clearButton());
        unstyled.addSideWidget(new QWidget);
        unstyled.findChildren<QWidget*>().last()->resize(12, 5);
        unstyled.addClearButton(false);
        QVERIFY(unstyled.clearButton());
    }

    void cursorShapeOverTextAndSides()
    {
        Form form(kClearRole);
        KelLineEdit* edit = form.edit;
        edit->setText(QStringLiteral("abc"));
        KelButton* button = edit->clearButton();
        QVERIFY(button->isVisible());
        QTest::mouseMove(edit, QPoint(edit->width() / 3, edit->height() / 2));
        QTRY_COMPARE(edit->cursor().shape(), Qt::IBeamCursor);
        QTest::mouseMove(edit, QPoint(button->x() - 1, edit->height() / 2));
        QTRY_COMPARE(edit->cursor().shape(), Qt::ArrowCursor);
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelLineEdit>(argc, argv, QStringLiteral("Kel Line Edit Test"));
}

#include "tst_kellineedit.moc"
