#include "../kelapp/kelapptest.h"
#include "pagetest.h"

#include "application.h"
#include "enums.h"
#include "kellogger/kellogger.h"
#include "mainwindow/sidebar/sidebar.h"
#include "mainwindow/sidebar/sidebarfolders.h"
#include "models/bookmodel.h"
#include "models/booksortfiltermodel.h"
#include "models/foldermodel.h"
#include "settingsprovider.h"
#include "temphome.h"
#include "ui.h"
#include "widgets/dragicon.h"
#include "widgets/editablelabel.h"
#include "widgets/kelbutton.h"
#include "widgets/keldelimiter.h"
#include "windows/kelpopupmenu.h"

#include <QDateTime>
#include <QDropEvent>
#include <QMimeData>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

class TestSideBar : public QObject {
    Q_OBJECT

    int m_answer = 2;
    int m_boxes = 0;

    static Application* app() { return Application::instance(); }
    static BookModel* books() { return app()->bookModel(); }
    static FolderModel* folderModel() { return app()->folderModel(); }

    static int addBook(const QString& title, int format, int hoursAgo = -1, int folder = 0)
    {
        BookDto book;
        book.title = title;
        book.full_path = QStringLiteral("/nowhere/%1.%2").arg(title).arg(format);
        book.format = format;
        book.time_added = QDateTime::currentSecsSinceEpoch();
        if (hoursAgo >= 0)
            book.time_last_view = book.time_added - quint32(hoursAgo) * 3600;
        const int id = books()->addBook(book);
        if (folder > 0)
            books()->setData(books()->indexById(id), folder, Enums::MoveToFolder);
        return id;
    }
    static SideBarFolder* folderEntry(SideBar& bar, int id)
    {
        for (SideBarFolder* entry : bar.folders()->folderEntries()) {
            if (entry->folderId() == id)
                return entry;
        }
        return nullptr;
    }
    static QString sub(SideBar& bar, int category) { return bar.entry(category)->subText(); }

private slots:
    void initTestCase()
    {
        Ui::instance()->setMessageBoxHandler([this](KelMessageBoxRequest&) {
            ++m_boxes;
            return m_answer;
        });
        QVERIFY(app()->init());
    }

    // Counts are read once per event-loop pass, however many model signals came before.
    void counts()
    {
        SideBar bar;
        connect(app()->bookSortFilterModel(), &BookSortFilterModel::filterCategoryChanged, &bar,
            &SideBar::onFilterCategoryChanged);
        QCOMPARE(sub(bar, Enums::AllBooks), QStringLiteral("0"));
        QVERIFY(bar.formatsBox()->isHidden());
        for (int i = 0; i < 25; ++i)
            addBook(QStringLiteral("read %1").arg(i), i % 2 ? 0 : 3, i);
        addBook(QStringLiteral("unread"), 0);
        QCOMPARE(sub(bar, Enums::AllBooks), QStringLiteral("0")); // not yet: queued
        QCoreApplication::processEvents();
        QCOMPARE(sub(bar, Enums::AllBooks), QStringLiteral("26"));
        QCOMPARE(sub(bar, Enums::RecentlyRead), QStringLiteral("20"));
        QVERIFY(!bar.formatsBox()->isHidden());
        QCOMPARE(bar.entry(Enums::BookFormat + 0)->subText(), QStringLiteral("13"));
        QCOMPARE(bar.entry(Enums::BookFormat + 3)->subText(), QStringLiteral("13"));
        QVERIFY(bar.entry(Enums::BookFormat + 2)->isHidden());

        // A format chosen through the filter opens its collapsed box.
        QSignalSpy clicked(&bar, &SideBar::categoryClicked);
        QVERIFY(!bar.formatsBox()->expandButton()->isChecked());
        app()->bookSortFilterModel()->setFilterCategory(Enums::BookFormat + 3);
        QCoreApplication::processEvents();
        QCOMPARE(bar.currentCategory(), int(Enums::BookFormat + 3));
        QVERIFY(bar.formatsBox()->expandButton()->isChecked());
        QCOMPARE(clicked.value(0).value(0).toInt(), int(Enums::BookFormat + 3));
        bar.formatsBox()->expandButton()->setChecked(false);
        QVERIFY(bar.formatsBox()->holdsCheckedEntry());
        app()->bookSortFilterModel()->setFilterCategory(Enums::AllBooks);
        QCoreApplication::processEvents();
        QVERIFY(!bar.formatsBox()->holdsCheckedEntry());
    }

    void serviceEntry()
    {
        SideBar bar;
        bar.show();
        QVERIFY(!bar.serviceEntry()->isVisible());
        QSignalSpy opened(&bar, &SideBar::showServiceModeWindowClicked);
        KelUi::instance()->setMaintenanceMode(true);
        QVERIFY(bar.serviceEntry()->isVisible());
        QCOMPARE(opened.count(), 1);
        KelUi::instance()->setMaintenanceMode(false);
        QVERIFY(!bar.serviceEntry()->isVisible());
        QCOMPARE(opened.count(), 1);
    }

    void delimiter()
    {
        SideBar bar;
        bar.show();
        bar.resize(bar.width(), 2000);
        QTRY_VERIFY(bar.delimiter()->isHidden());
        bar.resize(bar.width(), bar.minimumSizeHint().height());
        QTRY_VERIFY(!bar.delimiter()->isHidden());
    }

    // Folders: made in the editor, renamed trimmed into their sorted place, deleted after asking.
    void folders()
    {
        SideBar bar;
        bar.translateUi();
        bar.show();
        const int before = bar.folders()->folderEntries().size();
        emit bar.folders()->addEntry()->clicked();
        QCOMPARE(bar.folders()->folderEntries().size(), before + 1);
        SideBarFolder* made = bar.folders()->folderEntries().first();
        QCOMPARE(made->text(), QStringLiteral("New category"));
        QVERIFY(made->isChecked());
        QVERIFY(made->isEditing());
        QCOMPARE(made->editor()->selectedText(), QStringLiteral("New category"));
        const int id = made->folderId();
        QCoreApplication::processEvents();
        QCOMPARE(bar.currentCategory(), int(Enums::MaxBookFormat) + id);

        folderModel()->findOrAddCategory(QStringLiteral("Alpha"));
        made->editor()->setText(QStringLiteral("  Zeta  "));
        emit made->editor()->editingFinished();
        QVERIFY(!made->isEditing());
        QCOMPARE(folderModel()->indexById(id).data().toString(), QStringLiteral("Zeta"));
        QStringList titles;
        for (SideBarFolder* entry : bar.folders()->folderEntries())
            titles << entry->text();
        QCOMPARE(titles, columnTitles());

        // A change without the display role leaves the entry alone.
        made->setText(QStringLiteral("stale"));
        const QModelIndex row = folderModel()->indexById(id);
        emit folderModel()->dataChanged(row, row, { Qt::ToolTipRole });
        QCOMPARE(made->text(), QStringLiteral("stale"));
        emit folderModel()->dataChanged(row, row, { Qt::DisplayRole });
        QCOMPARE(made->text(), QStringLiteral("Zeta"));

        // The menu's Delete asks first; "No" keeps the folder.
        auto deleteThroughMenu = [&] {
            emit made->customContextMenuRequested(QPoint(1, 1));
            QPointer<KelPopupMenu> menu = made->findChild<KelPopupMenu*>();
            QVERIFY(menu);
            for (KelButton* item : menu->findChildren<KelButton*>()) {
                if (item->text() == QStringLiteral("Delete"))
                    emit item->clicked();
            }
            if (menu)
                menu->close();
        };
        m_answer = 1;
        const int boxes = m_boxes;
        deleteThroughMenu();
        QCOMPARE(m_boxes, boxes + 1);
        QVERIFY(folderEntry(bar, id));
        m_answer = 2;
        deleteThroughMenu();
        QCoreApplication::processEvents();
        QVERIFY(!folderEntry(bar, id));
    }

    // Books dragged from one folder: that folder refuses, the others accept; a drop moves them.
    void dragBooksOntoFolders()
    {
        SideBar bar;
        bar.show();
        const int from = folderModel()->findOrAddCategory(QStringLiteral("From"));
        const int to = folderModel()->findOrAddCategory(QStringLiteral("To"));
        const int book = addBook(QStringLiteral("moving"), 0, -1, from);
        QCOMPARE(books()->findCategoryByBook(book), from);
        QMimeData* mime = books()->mimeData({ books()->indexById(book) });
        DragIcon* icon = Ui::instance()->dragIcon();
        emit icon->showed(mime);
        QVERIFY(!folderEntry(bar, from)->acceptDrops());
        QVERIFY(folderEntry(bar, to)->acceptDrops());
        const QString fromCount = folderEntry(bar, from)->subText();

        SideBarFolder* target = folderEntry(bar, to);
        QDragEnterEvent enter(target->rect().center(), Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(target->rect().center(), Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        emit icon->hided();
        QVERIFY(!target->acceptDrops());
        QCOMPARE(books()->findCategoryByBook(book), to);
        QCOMPARE(folderEntry(bar, to)->subText(), QStringLiteral("1"));
        QCOMPARE(folderEntry(bar, from)->subText(), QString::number(fromCount.toInt() - 1));
        app()->bookSortFilterModel()->setFilterCategory(Enums::MaxBookFormat + to);
        QCOMPARE(app()->bookSortFilterModel()->rowCount(), 1);
        delete mime;
    }

private:
    static QStringList columnTitles()
    {
        QStringList titles;
        for (int row = 0; row < folderModel()->rowCount(); ++row)
            titles << folderModel()->index(row, 0).data().toString();
        return titles;
    }
};

int main(int argc, char** argv)
{
    TempHome home;
    QCoreApplication::setOrganizationName(QStringLiteral("Side Bar Test Org"));
    QCoreApplication::setApplicationName(QStringLiteral("Side Bar Test"));
    KelLogger::setAppDirName(QStringLiteral("Side Bar Test"));
    Application app(QUuid::createUuid().toString(), argc, argv);
    registerSettingsMetaTypes();
    app.setSettings(new SettingsProvider(
        KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat, &app));
    TestSideBar test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sidebar.moc"
