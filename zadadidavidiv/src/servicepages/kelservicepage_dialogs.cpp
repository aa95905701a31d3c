#include "kelservicepage_dialogs.h"

#include "kelui.h"
#include "layouts/kelflowlayout.h"
#include "windows/kelnotificationmanager.h"

#include <QFutureWatcher>
#include <QStringList>
#include <QtConcurrent>

namespace {

const QString T1 = QStringLiteral("Single line title.");
const QString T2 = QStringLiteral("Long title. Maybe this should be placed in multiple lines.");
const QString T3 = QStringLiteral(
    "Extra long title. This should be placed in multiple lines. Lorem ipsum dolor sit amet, consectetur adipiscing "
    "elit, sed do eiusmod tempor incididunt ut labore et dolore magna aliqua.");
const QString M1 = QStringLiteral("Single line message.");
const QString M2 = QStringLiteral(
    "Long message. This always should be placed in multiple lines. Lorem ipsum dolor sit amet, consectetur "
    "adipiscing elit, sed do eiusmod tempor incididunt ut labore et dolore magna aliqua.");
const QString M3 = QStringLiteral(
    "Extra long message (~900 symbols). This always should be placed in multiple lines. Sed ut perspiciatis unde "
    "omnis iste natus error sit voluptatem accusantium doloremque laudantium, totam rem aperiam, eaque ipsa quae ab "
    "illo inventore veritatis et quasi architecto beatae vitae dicta sunt explicabo. Nemo enim ipsam voluptatem quia "
    "voluptas sit aspernatur aut odit aut fugit, sed quia consequuntur magni dolores eos qui ratione voluptatem sequi "
    "nesciunt. Neque porro quisquam est, qui dolorem ipsum quia dolor sit amet, consectetur, adipisci velit, sed quia "
    "non numquam eius modi tempora incidunt ut labore et dolore magnam aliquam quaerat voluptatem. Ut enim ad minima "
    "veniam, quis nostrum exercitationem ullam corporis suscipit laboriosam, nisi ut aliquid ex ea commodi "
    "consequatur? Quis autem vel eum iure reprehenderit qui in ea voluptate velit esse quam nihil molestiae "
    "consequatur, vel illum qui dolorem eum fugiat quo voluptas nulla pariatur?");
const QString Filter = QStringLiteral("Filter example (*.txt);;All files(*.*)");
const QString B1 = QStringLiteral("123 456 789 123 456 789 123 456 789");
const QString B2 = QStringLiteral("123 456 789 123 ");
const QString SampleAppName = QStringLiteral("Sample Reader");

// What the demos remember between their dialogs, for the life of the process.
struct DemoState {
    QString inputTexts[6];
    bool remember = false;
    bool defaultAppRemember = false;
    bool defaultAppNotifyRemember = false;
};

DemoState& demoState()
{
    static DemoState state;
    return state;
}

void showAnswer(const QString& prefix, const QString& answer)
{
    if (KelUi* ui = KelUi::instance())
        ui->messageBox(prefix + answer, QString(), 6);
}

struct FileDialogDemo {
    QString text;
    QString prefix;
    std::function<QString(KelUi*)> call;
};

QList<FileDialogDemo> fileDialogDemos()
{
    const QString title = QStringLiteral("Title");
    return {
        { QStringLiteral("kelUi->getOpenFileName()"), QStringLiteral("GetOpenFileName returned:"),
            [title](KelUi* ui) { return ui->getOpenFileName(title, Filter, QString()); } },
        { QStringLiteral("kelUi->getOpenFileNames()"), QStringLiteral("GetOpenFileNames returned:"),
            [title](KelUi* ui) { return ui->getOpenFileNames(title, Filter, QString()).join(QStringLiteral("; ")); } },
        { QStringLiteral("kelUi->getSaveFileName()"), QStringLiteral("GetSaveFileName returned:"),
            [title](KelUi* ui) { return ui->getSaveFileName(title, Filter, QString(), QString()); } },
        { QStringLiteral("kelUi->getExistingDirectory()"), QStringLiteral("GetExistingDirectory returned:"),
            [title](KelUi* ui) { return ui->getExistingDirectory(title, QString()); } },
    };
}

} // namespace

KelServicePage_Dialogs::KelServicePage_Dialogs(QWidget* parent)
    : KelServicePage(parent)
{
    struct BoxDemo {
        QString text;
        QString message;
        int icon;
        QStringList buttons;
        bool remember;
    };
    const QList<BoxDemo> boxes = {
        { QStringLiteral("Normal info"), M1, 6, {}, false },
        { QStringLiteral("Long alert"), M2, 5, {}, false },
        { QStringLiteral("Extra long"), M3, 6, {}, false },
        { QStringLiteral("2 buttons (question)"), M2, 7, { QStringLiteral("NO"), QStringLiteral("YES") }, false },
        { QStringLiteral("3 buttons"), M2, 7,
            { QStringLiteral("FIRST"), QStringLiteral("SECOND"), QStringLiteral("THRID") }, false },
        { QStringLiteral("Long text on buttons"), M2, 7, { B1, B2 }, false },
        { QStringLiteral("Remember choice"), M2, 7, { QStringLiteral("OK") }, true },
    };
    KelFlowLayout* row = addFlowRow(QStringLiteral("MessageBoxes:"));
    for (const BoxDemo& demo : boxes) {
        addButton(row, demo.text, [demo] {
            const QStringList b = demo.buttons + QStringList { QString(), QString(), QString() };
            if (KelUi* ui = KelUi::instance())
                ui->messageBox(demo.message, T1, demo.icon, b[0], b[1], b[2],
                    demo.remember ? &demoState().remember : nullptr,
                    demo.remember ? QStringLiteral("Custom text") : QString());
        });
    }

    struct InputDemo {
        QString text;
        QString message;
        KelUi::TextInputType type;
        int icon;
        QStringList buttons;
    };
    const QList<InputDemo> inputs = {
        { QStringLiteral("Normal + any text"), M1, KelUi::AnyTextInput, 6, {} },
        { QStringLiteral("Long + not empty"), M2, KelUi::NotEmptyTextInput, 6, {} },
        { QStringLiteral("Extra long"), M3, KelUi::AnyTextInput, 6, {} },
        { QStringLiteral("Password (any)"), M2, KelUi::PasswordTextInput, 6, {} },
        { QStringLiteral("Password (not empty)"), M2, KelUi::NotEmptyPasswordTextInput, 6, {} },
        { QStringLiteral("Long text on buttons"), M2, KelUi::AnyTextInput, 8, { B1, B2 } },
    };
    row = addFlowRow(QStringLiteral("TextInput:"));
    for (int i = 0; i < inputs.size(); ++i) {
        const InputDemo demo = inputs[i];
        addButton(row, demo.text, [demo, i] {
            const QStringList b = demo.buttons + QStringList { QString(), QString() };
            if (KelUi* ui = KelUi::instance())
                ui->textInputBox(demo.message, T1, demoState().inputTexts[i], demo.type, demo.icon, b[0], b[1]);
        });
    }

    addFileDialogRow(QStringLiteral("File dialogs (sync):"), false);
    addFileDialogRow(QStringLiteral("File dialogs (async):"), true);

    auto link = [](int n) {
        return KelUi::makeHtmlLink(
            QStringLiteral("https://example.com/link%1").arg(n), QStringLiteral("Sample link %1").arg(n), 0, QColor());
    };
    const QString blank = QStringLiteral(" ");
    const QList<std::tuple<QString, QString, QString, int>> notifications = {
        { QStringLiteral("Short"), T1, M1, 0 },
        { QStringLiteral("Long title"), T2, M1, 0 },
        { QStringLiteral("Long message"), T1, M2, 0 },
        { QStringLiteral("Long title & message"), T2, M2, 0 },
        { QStringLiteral("Extra title & message"), T3, M3, 0 },
        { QStringLiteral("Custom duration: 3 sec"), T1, QStringLiteral("Custom duration: 3 sec"), 3 },
        { QStringLiteral("Link (single line)"), QStringLiteral("Single line link"),
            QStringLiteral("Some text ") + link(1), 0 },
        { QStringLiteral("Link (multiple lines)"), QStringLiteral("Multiple lines link"), M2 + blank + link(1), 0 },
        { QStringLiteral("Extra long message + links"), link(1) + blank + T3 + blank + link(2),
            link(3) + blank + M3 + blank + link(4), 0 },
    };
    row = addFlowRow(QStringLiteral("Notifications:"));
    for (const auto& [text, title, message, seconds] : notifications) {
        addButton(row, text, [title = title, message = message, seconds = seconds] {
            if (KelUi* ui = KelUi::instance())
                ui->notificationManager()->showNotification(title, message, seconds);
        });
    }

    row = addFlowRow(QStringLiteral("Other:"));
    addButton(row, QStringLiteral("Update available"), [] {
        if (KelUi* ui = KelUi::instance())
            ui->showNewVersionDialog(QStringLiteral("x.yy"), QStringLiteral("https://example.com/changelog"),
                QStringLiteral("https://example.com/download"));
    });
    addButton(row, QStringLiteral("Ask register as default app"), [] {
        if (KelUi* ui = KelUi::instance())
            ui->askToBecomeDefaultApp(QStringLiteral(".pdf"), SampleAppName, &demoState().defaultAppRemember);
    });
    addButton(row, QStringLiteral("Notify is not default app"), [] {
        if (KelUi* ui = KelUi::instance())
            ui->askToBecomeDefaultAppWin8(QStringLiteral(".pdf"), SampleAppName,
                QStringLiteral("https://example.com/default-apps"), &demoState().defaultAppNotifyRemember);
    });

    setObjectName(QStringLiteral("Dialogs"));
}

KelServicePage_Dialogs::~KelServicePage_Dialogs() = default;

void KelServicePage_Dialogs::addFileDialogRow(const QString& caption, bool onWorkerThread)
{
    KelFlowLayout* row = addFlowRow(caption);
    for (const FileDialogDemo& demo : fileDialogDemos()) {
        if (!onWorkerThread) {
            addButton(row, demo.text, [demo] {
                if (KelUi* ui = KelUi::instance())
                    showAnswer(demo.prefix, demo.call(ui));
            });
            continue;
        }
        // The worker's request is served by the GUI thread's own event loop; the answer box opens
        // when the future reports, so the GUI thread never spins or nests a wait of its own.
        addButton(row, demo.text, [this, demo] {
            KelUi* ui = KelUi::instance();
            if (!ui)
                return;
            auto* watcher = new QFutureWatcher<QString>(this);
            connect(watcher, &QFutureWatcher<QString>::finished, this, [watcher, demo] {
                watcher->deleteLater();
                showAnswer(demo.prefix, watcher->result());
            });
            watcher->setFuture(QtConcurrent::run([ui, demo] { return demo.call(ui); }));
        });
    }
}
