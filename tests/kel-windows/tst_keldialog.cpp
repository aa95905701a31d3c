#include "../kel-group/clicktesthelpers.h"
#include "../kelapp/kelapptest.h"
#include "animators/kelprogressanimator.h"
#include "kelui.h"
#include "widgets/kelbutton.h"
#include "widgets/kelframe.h"
#include "widgets/kellabel.h"
#include "widgets/kellineedit.h"
#include "windows/keldialog.h"
#include "windows/kelmessagebox.h"
#include "windows/keltitlebar.h"
#include "windows/kelwindowblockedoverlay.h"
#include "windowtesthelpers.h"

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QtConcurrent>

#include <functional>

namespace {

// Acts on the next visible dialog of type T as soon as one shows (polling from a timer, since
// exec() runs its own event loop).
template <typename T> void actOnNextDialog(std::function<void(T*)> action)
{
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<T*>(widget);
            if (dialog && dialog->isVisible() && dialog->isExecuting()) {
                timer->deleteLater();
                timer->stop();
                action(dialog);
                return;
            }
        }
    });
    timer->start();
}

void click(QWidget* button) { clickThroughWindow(button); }

KelButton* textButton(int type, const QString& text, QWidget* parent)
{
    auto* button = new KelButton(type, parent);
    button->setText(text);
    return button;
}

KelDialog* makeDialog(QWidget* parent = nullptr)
{
    auto* dialog = new KelDialog(parent);
    dialog->addButton(1, textButton(19, "First", dialog));
    dialog->addButton(2, textButton(20, "Second", dialog), true);
    return dialog;
}

} // namespace

class TestKelDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<KelSettings> m_settings;

private slots:
    void initTestCase()
    {
        m_settings = installTestSettings();
        QVERIFY(KelUi::instance()); // made on the GUI thread, as the application does at start
    }

    void execEnds_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("result");
        QTest::newRow("enter presses the default button") << "enter" << 2;
        QTest::newRow("escape") << "escape" << 0;
        QTest::newRow("first button") << "button 1" << 1;
        QTest::newRow("default button") << "button 2" << 2;
        QTest::newRow("hidden") << "hide" << 0;
        QTest::newRow("done with an id of its own") << "done 7" << 7;
        QTest::newRow("deleted while running") << "delete" << 0;
    }

    void execEnds()
    {
        QFETCH(QString, how);
        QFETCH(int, result);
        QPointer<KelDialog> dialog = makeDialog();
        actOnNextDialog<KelDialog>([how](KelDialog* d) {
            if (how == "enter")
                QTest::keyClick(d, Qt::Key_Return);
            else if (how == "escape")
                QTest::keyClick(d, Qt::Key_Escape);
            else if (how.startsWith("button"))
                click(d->button(how.back().digitValue()));
            else if (how == "hide")
                d->hide();
            else if (how == "done 7")
                d->done(7);
            else
                delete d;
        });
        QCOMPARE(dialog->exec(), result);
        QCOMPARE(dialog.isNull(), how == "delete");
        if (dialog) {
            QVERIFY(!dialog->isVisible());
            QVERIFY(!dialog->isExecuting());
            delete dialog;
        }
    }

    void reentrantExecAndDeleteOnClose()
    {
        QPointer<KelDialog> dialog = makeDialog();
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        int inner = -1;
        actOnNextDialog<KelDialog>([&inner](KelDialog* d) {
            inner = d->exec();
            d->done(1);
        });
        QCOMPARE(dialog->exec(), 1);
        QCOMPARE(inner, 0);
        QVERIFY(dialog.isNull());
    }

    void waitsOnlyForAMinimisedParent_data()
    {
        QTest::addColumn<bool>("minimised");
        QTest::newRow("minimised parent") << true;
        QTest::newRow("hidden parent") << false;
    }

    void waitsOnlyForAMinimisedParent()
    {
        QFETCH(bool, minimised);
        KelWindow parent { KelWindow::TitleBar };
        parent.resize(400, 300);
        if (minimised)
            parent.showMinimized();
        QPointer<KelDialog> dialog = makeDialog(&parent);
        bool shownBeforeRestore = true;
        QTimer::singleShot(30, &parent, [&] {
            shownBeforeRestore = dialog && dialog->isVisible();
            parent.showNormal();
        });
        actOnNextDialog<KelDialog>([](KelDialog* d) { d->done(2); });
        QCOMPARE(dialog->exec(), 2);
        QCOMPARE(shownBeforeRestore, !minimised);
        QVERIFY(parent.isVisible());
        delete dialog;
    }

    void fieldThatMustNotBeEmpty_data()
    {
        QTest::addColumn<QString>("initial");
        QTest::addColumn<bool>("allowEmpty");
        QTest::addColumn<bool>("enabledAtStart");
        QTest::newRow("empty, must be filled") << QString() << false << false;
        QTest::newRow("filled, must be filled") << "name" << false << true;
        QTest::newRow("empty allowed") << QString() << true << true;
    }

    void fieldThatMustNotBeEmpty()
    {
        QFETCH(QString, initial);
        QFETCH(bool, allowEmpty);
        QFETCH(bool, enabledAtStart);
        KelMessageBox box;
        auto* ok = new KelButton(20, &box);
        box.addButton(1, ok, true);
        auto* edit = new KelLineEdit(28, &box);
        edit->setText(initial);
        box.addContentWidget(edit, allowEmpty);
        QCOMPARE(ok->isEnabled(), enabledAtStart);
        actOnNextDialog<KelDialog>([&](KelDialog* d) {
            // Enter does not bypass a disabled default button.
            QTest::keyClick(d, Qt::Key_Return);
            if (!d->isVisible())
                return;
            edit->setText(QString());
            QCOMPARE(ok->isEnabled(), allowEmpty);
            QTest::keyClicks(edit, "x");
            QVERIFY(ok->isEnabled());
            QTest::keyClick(edit, Qt::Key_Return);
        });
        QCOMPARE(box.exec(), 1);
        QCOMPARE(edit->text().isEmpty(), enabledAtStart && initial.isEmpty());
    }

    void boxesFromAWorkerOnTheRealMessageBox_data()
    {
        QTest::addColumn<int>("press"); // button id, 0 for Escape
        QTest::addColumn<bool>("checkRemember");
        QTest::newRow("second button, remember ticked") << 2 << true;
        QTest::newRow("first button, remember left") << 1 << false;
        QTest::newRow("escape") << 0 << false;
    }

    void boxesFromAWorkerOnTheRealMessageBox()
    {
        QFETCH(int, press);
        QFETCH(bool, checkRemember);
        int defaultId = -1;
        actOnNextDialog<KelMessageBox>([&](KelMessageBox* box) {
            defaultId = box->defaultButtonId();
            QCOMPARE(box->titleBar()->titleLabel()->text(), "Question");
            auto* remember = box->contentWidget()->findChild<KelButton*>();
            QVERIFY(remember && remember->isChecked());
            if (!checkRemember)
                click(remember);
            if (press)
                click(box->button(press));
            else
                QTest::keyClick(box, Qt::Key_Escape);
        });
        auto future = QtConcurrent::run([] {
            bool remember = true;
            const int id = KelUi::instance()->messageBox(
                "Keep?", "Question", 7, "No", "Yes", QString(), &remember, "Always ask");
            return qMakePair(id, remember);
        });
        QTRY_VERIFY(future.isFinished());
        QCOMPARE(future.result().first, press);
        QCOMPARE(future.result().second, checkRemember);
        QCOMPARE(defaultId, 2);
    }

    void textInputFromAWorker()
    {
        bool defaultEnabledAtStart = true;
        actOnNextDialog<KelMessageBox>([&](KelMessageBox* box) {
            defaultEnabledAtStart = box->defaultButton()->isEnabled();
            auto* edit = box->findChild<KelLineEdit*>();
            QTest::keyClicks(edit, "Shelf");
            click(box->defaultButton());
        });
        auto future = QtConcurrent::run([] {
            QString text;
            const int id
                = KelUi::instance()->textInputBox("Name?", "Rename", text, KelUi::NotEmptyTextInput, 6, "Cancel", "OK");
            return qMakePair(id, text);
        });
        QTRY_VERIFY(future.isFinished());
        QVERIFY(!defaultEnabledAtStart);
        QCOMPARE(future.result().first, 2);
        QCOMPARE(future.result().second, "Shelf");
    }

    void overlayCoversAResizedWindowAndFades()
    {
        KelWindow window { KelWindow::TitleBar };
        window.resize(300, 200);
        window.show();
        window.setBlockedOverlayVisible(true);
        auto* overlay = window.findChild<KelWindowBlockedOverlay*>();
        QVERIFY(overlay);
        QVERIFY(!overlay->isVisible());
        QVERIFY(!window.isBlockedOverlayShown());

        QEvent blocked(QEvent::WindowBlocked);
        QApplication::sendEvent(&window, &blocked);
        QVERIFY(window.isBlockedOverlayShown());
        QTRY_COMPARE(overlay->animator()->progress(), 1.0);
        QVERIFY(overlay->isVisible());
        window.resize(520, 410);
        QTRY_COMPARE(overlay->geometry(), window.rect());

        QEvent unblocked(QEvent::WindowUnblocked);
        QApplication::sendEvent(&window, &unblocked);
        QVERIFY(overlay->isVisible()); // still fading out
        QTRY_VERIFY(!overlay->isVisible());
        QCOMPARE(overlay->animator()->progress(), 0.0);

        QPointer<KelWindowBlockedOverlay> gone = overlay;
        window.setBlockedOverlayVisible(false);
        QTRY_VERIFY(gone.isNull());
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelDialog>(argc, argv, QStringLiteral("KelDialogTest"));
}

#include "tst_keldialog.moc"
