#include "utils/kelwidgettreeutils.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

namespace {

// A widget whose size hint changes without telling its layout, as a widget does whose text was
// retranslated behind its back.
class SilentHint : public QWidget {
public:
    using QWidget::QWidget;
    QSize hint { 50, 20 };
    QSize sizeHint() const override { return hint; }
};

} // namespace

class TestKelWidgetTreeUtils : public QObject {
    Q_OBJECT

private slots:
    void clearLayoutDeletesNestedWidgets()
    {
        QWidget page;
        auto* outer = new QVBoxLayout(&page);
        QPointer<QLabel> top = new QLabel(QStringLiteral("top"));
        outer->addWidget(top);
        outer->addSpacing(8);
        auto* row = new QHBoxLayout;
        QPointer<QPushButton> left = new QPushButton(QStringLiteral("left"));
        QPointer<QPushButton> right = new QPushButton(QStringLiteral("right"));
        row->addWidget(left);
        row->addWidget(right);
        QPointer<QHBoxLayout> rowGuard = row;
        outer->addLayout(row);
        QCOMPARE(outer->count(), 3);

        KelUtils::clearLayout(outer);
        QCOMPARE(outer->count(), 0);
        QVERIFY(top.isNull());
        QVERIFY(left.isNull());
        QVERIFY(right.isNull());
        QVERIFY(rowGuard.isNull()); // the nested layout item itself is deleted
        QVERIFY(page.findChildren<QWidget*>().isEmpty());
        KelUtils::clearLayout(nullptr);
    }

    void updateGeometriesRemeasuresDeepWidgets()
    {
        QWidget page;
        auto* layout = new QVBoxLayout(&page);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* panel = new QWidget;
        auto* panelLayout = new QHBoxLayout(panel);
        panelLayout->setContentsMargins(0, 0, 0, 0);
        auto* inner = new QWidget;
        auto* innerLayout = new QVBoxLayout(inner);
        innerLayout->setContentsMargins(0, 0, 0, 0);
        auto* deep = new SilentHint;
        innerLayout->addWidget(deep);
        panelLayout->addWidget(inner);
        layout->addWidget(panel);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QCOMPARE(layout->sizeHint().width(), 50);

        deep->hint = QSize(180, 20);
        QCoreApplication::processEvents();
        QCOMPARE(layout->sizeHint().width(), 50); // the cached hint is stale
        KelUtils::updateGeometriesRecursively(&page);
        QCOMPARE(layout->sizeHint().width(), 180);
        KelUtils::updateGeometriesRecursively(nullptr);
    }

    void topLevelWindowFollowsWindowParents()
    {
        QWidget mainWindow;
        auto* dialog = new QDialog(&mainWindow);
        auto* popup = new QWidget(dialog, Qt::Popup);
        auto* button = new QPushButton(popup);
        QCOMPARE(KelUtils::topLevelWindow(button), &mainWindow);
        QCOMPARE(KelUtils::topLevelWindow(dialog), &mainWindow);
        QCOMPARE(KelUtils::topLevelWindow(&mainWindow), &mainWindow);
        QCOMPARE(KelUtils::topLevelWindow(nullptr), static_cast<QWidget*>(nullptr));
    }

    void retainSizeWhenHidden()
    {
        QWidget page;
        auto* layout = new QHBoxLayout(&page);
        auto* kept = new SilentHint;
        auto* other = new SilentHint;
        layout->addWidget(kept);
        layout->addWidget(other);
        const QSizePolicy::Policy horizontal = kept->sizePolicy().horizontalPolicy();
        KelUtils::setRetainSizeWhenHidden(kept, true);
        QVERIFY(kept->sizePolicy().retainSizeWhenHidden());
        QCOMPARE(kept->sizePolicy().horizontalPolicy(), horizontal);
        page.show();
        kept->hide();
        layout->activate();
        QCOMPARE(other->x(), layout->contentsRect().x() + kept->width() + layout->spacing());
        KelUtils::setRetainSizeWhenHidden(kept, false);
        QVERIFY(!kept->sizePolicy().retainSizeWhenHidden());
        KelUtils::setRetainSizeWhenHidden(nullptr, true);
    }
};

QTEST_MAIN(TestKelWidgetTreeUtils)
#include "tst_kelwidgettreeutils.moc"
