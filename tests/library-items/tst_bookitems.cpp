#include "../app-look/applooktest.h"

#include "keldialogrequests.h"
#include "mainwindow/librarypage/bookitempopupmenu.h"
#include "mainwindow/librarypage/bookitemwidget.h"
#include "mainwindow/librarypage/bookthumbnailwidget.h"
#include "models/bookmodel.h"
#include "ui.h"
#include "widgets/kelbutton.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QStandardItemModel>

namespace {

enum State { Plain = 0, Trash = 1, Favorite = 2, InFolder = 4 };

// One book row with the roles the item reads.
QModelIndex bookRow(QStandardItemModel& model, int id, int state, const QString& title = QStringLiteral("Book"))
{
    auto* item = new QStandardItem;
    item->setData(id, BookModel::IdRole);
    item->setData(title, BookModel::TitleRole);
    item->setData(QStringLiteral("Author %1").arg(id), BookModel::AuthorRole);
    item->setData(bool(state & Trash), BookModel::DeletedRole);
    item->setData(bool(state & Favorite), BookModel::FavoriteRole);
    item->setData(state & InFolder ? 33 : 0, BookModel::CategoryIdRole);
    item->setData(id % 10, BookModel::RowModuloRole);
    model.appendRow(item);
    return item->index();
}

using Actions = QList<int>;

Actions emitted(const QSignalSpy& spy)
{
    Actions actions;
    for (const QList<QVariant>& call : spy)
        actions << call.at(1).toInt();
    return actions;
}

void mouse(QWidget* w, QEvent::Type type, const QPoint& at, Qt::MouseButtons held)
{
    QMouseEvent event(
        type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

// The application object with the reader's UI controller, as the program makes it.
class UiApp : public KelApplication {
public:
    using KelApplication::KelApplication;

protected:
    KelUi* createUi() override { return new Ui(this); }
};

} // namespace

class TestBookItems : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_ui = Ui::instance();
        QVERIFY(m_ui);
        m_ui->setMessageBoxHandler([this](KelMessageBoxRequest&) {
            ++m_questions;
            return m_answer;
        });
        m_menu = new BookItemPopupMenu;
    }
    void cleanupTestCase() { delete m_menu; }

    // Which menu entries a book in each state offers.
    void menuEntries_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<Actions>("visible");
        QTest::newRow("plain") << int(Plain)
                               << Actions { Enums::Open, Enums::ToFavorite, Enums::ToTrash, Enums::Properties };
        QTest::newRow("favourite in a folder")
            << (Favorite | InFolder)
            << Actions { Enums::Open, Enums::FromFavorite, Enums::ToTrash, Enums::RemoveFromFolder, Enums::Properties };
        QTest::newRow("trash") << (Trash | Favorite)
                               << Actions { Enums::RestoreFromTrash, Enums::DeleteFromLibrary, Enums::Properties };
    }

    void menuEntries()
    {
        QFETCH(int, state);
        QFETCH(Actions, visible);
        QStandardItemModel model;
        BookItemWidget item(Enums::View_Table, m_menu);
        item.readFrom(bookRow(model, 1, state));
        emit item.customContextMenuRequested(QPoint());
        Actions shown;
        for (int a = Enums::Open; a <= Enums::RemoveFromFolder; ++a) {
            if (m_menu->actionButton(Enums::LibraryAction(a))->isVisibleTo(m_menu))
                shown << a;
        }
        std::sort(visible.begin(), visible.end());
        QCOMPARE(shown, visible);
        m_menu->hide();
        QCoreApplication::processEvents();
    }

    // Actions from the menu, the keyboard and the mouse, with the answer to any question, and what
    // reaches the page.
    void actions_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("answer");
        QTest::addColumn<Actions>("expected");
        QTest::addColumn<int>("questions");
        QTest::newRow("menu delete, no") << int(Trash) << "menu" << 2 << Actions {} << 1;
        QTest::newRow("menu delete, yes") << int(Trash) << "menu" << 1 << Actions { Enums::DeleteFromLibrary } << 1;
        QTest::newRow("Del outside the trash") << int(Plain) << "del" << 2 << Actions { Enums::ToTrash } << 0;
        QTest::newRow("Del in the trash, no") << int(Trash) << "del" << 2 << Actions {} << 1;
        QTest::newRow("double-click") << int(Plain) << "dblclick" << 0 << Actions { Enums::Open } << 0;
        QTest::newRow("double-click in the trash") << int(Trash) << "dblclick" << 0 << Actions {} << 0;
    }

    void actions()
    {
        QFETCH(int, state);
        QFETCH(QString, input);
        QFETCH(int, answer);
        QFETCH(Actions, expected);
        QFETCH(int, questions);
        QStandardItemModel model;
        BookItemWidget item(Enums::View_Table, m_menu);
        item.readFrom(bookRow(model, 1, state));
        QSignalSpy spy(&item, &BookItemWidget::actionClicked);
        m_answer = answer;
        m_questions = 0;
        if (input == QLatin1String("menu")) {
            emit item.customContextMenuRequested(QPoint());
            emit m_menu->actionButton(Enums::DeleteFromLibrary)->clicked();
        } else if (input == QLatin1String("del")) {
            QTest::keyClick(&item, Qt::Key_Delete);
        } else {
            const QPoint at(30, 30);
            mouse(&item, QEvent::MouseButtonPress, at, Qt::LeftButton);
            mouse(&item, QEvent::MouseButtonRelease, at, Qt::NoButton);
            mouse(&item, QEvent::MouseButtonDblClick, at, Qt::LeftButton);
            mouse(&item, QEvent::MouseButtonRelease, at, Qt::NoButton);
        }
        QCOMPARE(emitted(spy), expected);
        QCOMPARE(m_questions, questions);
        m_menu->hide();
        QCoreApplication::processEvents();
    }

    void drag_data()
    {
        QTest::addColumn<int>("distance");
        QTest::addColumn<bool>("starts");
        QTest::newRow("below the drag distance") << QApplication::startDragDistance() << false;
        QTest::newRow("beyond it") << QApplication::startDragDistance() + 1 << true;
    }

    void drag()
    {
        QFETCH(int, distance);
        QFETCH(bool, starts);
        QStandardItemModel model;
        BookItemWidget item(Enums::View_Table, m_menu);
        item.readFrom(bookRow(model, 1, Plain));
        item.resize(900, 80);
        QSignalSpy spy(&item, &BookItemWidget::dragStarted);
        mouse(&item, QEvent::MouseButtonPress, QPoint(30, 30), Qt::LeftButton);
        QMouseEvent move(QEvent::MouseMove, QPoint(30 + distance, 30), item.mapToGlobal(QPoint(30 + distance, 30)),
            Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&item, &move);
        QCOMPARE(spy.size(), int(starts));
        if (starts) // a row drags its cover
            QCOMPARE(spy[0][1].value<QPixmap>().size(), thumbnailGeometry(0).coverSize);
    }

    void sizes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QSize>("thumbnail");
        QTest::newRow("row") << int(Enums::View_Table) << QSize(79, 80);
        QTest::newRow("card") << int(Enums::View_Cards) << QSize(214, 293);
    }

    void sizes()
    {
        QFETCH(int, mode);
        QFETCH(QSize, thumbnail);
        QStandardItemModel model;
        BookItemWidget item(1 - mode, m_menu);
        item.readFrom(bookRow(model, 1, Plain));
        item.setItemMode(mode);
        item.adjustSize();
        QCOMPARE(item.thumbnail()->size(), thumbnail);
        if (mode == Enums::View_Table)
            QCOMPARE(item.height(), 80);
        else
            QCOMPARE(item.width(), 214);
    }

    // A recycled widget that reads another book gives up the focus and shows the new book.
    void recycled()
    {
        QStandardItemModel model;
        BookItemWidget item(Enums::View_Table, m_menu);
        item.show();
        QVERIFY(QTest::qWaitForWindowExposed(&item));
        item.readFrom(bookRow(model, 1, Plain, QStringLiteral("First")));
        item.setFocus();
        QVERIFY(item.hasFocus());
        item.readFrom(bookRow(model, 1, Favorite, QStringLiteral("First again")));
        QVERIFY(item.hasFocus());
        item.readFrom(bookRow(model, 2, Plain, QStringLiteral("Second")));
        QVERIFY(!item.hasFocus());
        QCOMPARE(item.findChild<QLabel*>(QStringLiteral("Title"))->text(), QStringLiteral("Second"));
        QCOMPARE(item.findChild<QLabel*>(QStringLiteral("Author"))->text(), QStringLiteral("Author 2"));
        QVERIFY(!item.findChild<KelButton*>(QStringLiteral("Favorite"))->isChecked());
    }

private:
    Ui* m_ui = nullptr;
    BookItemPopupMenu* m_menu = nullptr;
    int m_answer = 0;
    int m_questions = 0;
};

int main(int argc, char** argv)
{
    return runKelAppTest<UiApp, TestBookItems>(argc, argv, QStringLiteral("book-items-test"));
}

#include "tst_bookitems.moc"
