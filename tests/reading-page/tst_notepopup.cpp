// The note popup on an open EPUB: colours make and recolour one note, "Add note" opens the
// comment editor that stores every keystroke, the shortcuts act only on visible entries, and a
// long comment keeps the popup inside the screen.

#include "readingfixture.h"
#include "readingpagetest.h"

#include "bookcontext.h"
#include "hotkeys.h"
#include "kelapplication.h"
#include "mainwindow/readingpage/notepopup.h"
#include "settingsprovider.h"
#include "widgets/kelbutton.h"
#include "widgets/kelexclusivebuttongroup.h"

#include <QScreen>
#include <QShortcut>
#include <QtTest>

class TestNotePopup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const int bookId = m_fixture.addEpub(QStringLiteral("notes.epub"), 3, 4000);
        QVERIFY(bookId > 0);
        QVERIFY(m_fixture.open(bookId));
        m_popup = std::make_unique<NotePopup>();
        m_popup->setBookContext(m_fixture.context());
    }

    void cleanup()
    {
        m_popup->hide();
        for (const NoteItem& note : m_fixture.context()->notes())
            m_fixture.context()->removeNote(note.id);
    }

    void colours_data()
    {
        // Colours clicked one after another on a fresh selection.
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<int>("color");
        QTest::newRow("yellow") << QList<int> { NoteItem::Yellow } << int(NoteItem::Yellow);
        QTest::newRow("yellow then purple recolours")
            << QList<int> { NoteItem::Yellow, NoteItem::Purple } << int(NoteItem::Purple);
    }

    void colours()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(int, color);
        select();
        for (int click : clicks)
            QVERIFY(m_popup->colorGroup()->setCheckedByUserData(click));
        QTRY_COMPARE(m_fixture.context()->notes().size(), 1);
        const NoteItem note = m_fixture.context()->notes().first();
        QTRY_COMPARE(int(m_fixture.context()->notes().first().color), color);
        QCOMPARE(m_popup->currentNoteId(), note.id);
        QCOMPARE(m_popup->mode(), int(NotePopup::NoteMode));
        QVERIFY(m_popup->deleteNoteButton()->isVisibleTo(m_popup.get()));
        QVERIFY(m_popup->deleteColorButton()->isVisibleTo(m_popup.get()));

        // Removing the note elsewhere closes the popup.
        m_fixture.context()->removeNote(note.id);
        QTRY_VERIFY(!m_popup->isVisible());
        QVERIFY(m_popup->currentNoteId().isEmpty());
    }

    void addNoteWithComment()
    {
        select();
        emit m_popup->addNoteButton()->clicked();
        QCOMPARE(m_fixture.context()->notes().size(), 1);
        QCOMPARE(m_fixture.context()->notes().first().color, NoteItem::Blue);
        QCOMPARE(m_popup->mode(), int(NotePopup::EditorMode));
        QVERIFY(m_popup->editor()->isVisibleTo(m_popup.get()));
        QTRY_VERIFY(m_popup->editor()->hasFocus());
        const QString id = m_popup->currentNoteId();
        QTest::keyClick(m_popup->editor(), Qt::Key_O);
        QCOMPARE(m_fixture.context()->findNote(id)->note, QStringLiteral("o"));
        QTest::keyClick(m_popup->editor(), Qt::Key_K);
        QCOMPARE(m_fixture.context()->findNote(id)->note, QStringLiteral("ok"));

        // Opening the note again shows its comment in the editor.
        m_popup->hide();
        m_popup->showForNote(QRect(40, 40, 80, 20), id);
        QCOMPARE(m_popup->mode(), int(NotePopup::EditorMode));
        QCOMPARE(m_popup->editor()->toPlainText(), QStringLiteral("ok"));
    }

    void deleteKeyOnSelection()
    {
        select();
        emit m_popup->addNoteButton()->clicked();
        QCOMPARE(m_fixture.context()->notes().size(), 1);
        m_popup->hide();
        // A fresh selection has no note to delete: the key is ignored.
        select();
        activateShortcut(Hotkeys::Id::SelText_RemoveNote);
        QCOMPARE(m_fixture.context()->notes().size(), 1);
        QVERIFY(m_popup->isVisible());
        m_popup->showForNote(QRect(40, 40, 80, 20), m_fixture.context()->notes().first().id);
        QCOMPARE(m_popup->mode(), int(NotePopup::NoteMode));
        activateShortcut(Hotkeys::Id::SelText_RemoveNote);
        QCOMPARE(m_fixture.context()->notes().size(), 0);
    }

    void longCommentStaysOnScreen()
    {
        select();
        emit m_popup->addNoteButton()->clicked();
        m_popup->editor()->setPlainText(QStringLiteral("line\n").repeated(200));
        QCOMPARE(m_popup->editor()->heightForWidth(m_popup->editor()->width()), TextEdit::kMaxHeight);
        QTRY_VERIFY(m_popup->editor()->height() > 300);
        const QRect screen = m_popup->screen()->availableGeometry().adjusted(20, 20, -20, -20);
        QTRY_VERIFY2(screen.contains(m_popup->geometry()),
            qPrintable(QStringLiteral("%1,%2 %3x%4")
                           .arg(m_popup->x())
                           .arg(m_popup->y())
                           .arg(m_popup->width())
                           .arg(m_popup->height())));
    }

private:
    void select()
    {
        QVERIFY(!m_fixture.selectOnScreen(10).isEmpty());
        m_popup->showForSelection(QRect(40, 40, 80, 20));
        QVERIFY(m_popup->isVisible());
        QCOMPARE(m_popup->mode(), int(NotePopup::SelectionMode));
    }

    void activateShortcut(Hotkeys::Id id)
    {
        const QKeySequence sequence = Hotkeys::sequences(id).value(0);
        bool found = false;
        for (QShortcut* shortcut : m_popup->findChildren<QShortcut*>()) {
            if (shortcut->key() == sequence) {
                emit shortcut->activated();
                found = true;
            }
        }
        QVERIFY(found);
    }

    ReadingFixture m_fixture;
    std::unique_ptr<NotePopup> m_popup;
};

int main(int argc, char** argv) { return runReadingTest<TestNotePopup>(argc, argv); }

#include "tst_notepopup.moc"
