#include "../app-look/applooktest.h"
#include "../kel-group/clicktesthelpers.h"

#include "mainwindow/readingpage/linespacingselector.h"
#include "widgets/editablelabel.h"
#include "widgets/kelbutton.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "widgets/labeled.h"
#include "widgets/tabindicator.h"
#include "widgets/wordwraplabel.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QToolTip>

class TestSettingsWidgets : public QObject {
    Q_OBJECT

private:
    Profiles m_profiles;

private slots:
    void labeledTakesOneEditor()
    {
        Labeled<QWidget> box;
        box.setEditor(nullptr);
        QVERIFY(!box.editor());
        auto* first = new QWidget(&box);
        box.setEditor(first);
        QWidget second;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Already has an editor"));
        box.setEditor(&second);
        QCOMPARE(box.editor(), first);
        QVERIFY(second.parent() == nullptr);
    }

    void editableLabelEndsEditing_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::addColumn<QString>("expected");
        QTest::newRow("escape restores") << true << "Folder";
        QTest::newRow("click outside keeps") << false << "Folder renamed";
    }
    void editableLabelEndsEditing()
    {
        QFETCH(bool, escape);
        QFETCH(QString, expected);
        QWidget host;
        auto* layout = new QHBoxLayout(&host);
        auto* label = new EditableLabel(1068, &host);
        auto* other = new QWidget(&host);
        other->setMinimumSize(80, 30);
        layout->addWidget(label);
        layout->addWidget(other);
        label->setText(QStringLiteral("Folder"));
        host.show();
        QApplication::setActiveWindow(&host);
        QVERIFY(QTest::qWaitForWindowActive(&host));
        label->setFocus();
        QTRY_VERIFY(label->hasFocus());
        QTest::keyClicks(label, QStringLiteral(" renamed"));
        QSignalSpy changes(label, &QLineEdit::textChanged);
        if (escape)
            QTest::keyClick(label, Qt::Key_Escape);
        else
            clickThroughWindow(other);
        QTRY_VERIFY(!label->hasFocus());
        QCOMPARE(label->text(), expected);
        QCOMPARE(changes.count(), 0);
    }

    void wordWrapLabelTooltipOnlyWhenCut_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("elided");
        QTest::newRow("five lines") << "one\ntwo\nthree\nfour\nfive" << true;
        QTest::newRow("fits") << "one" << false;
    }
    void wordWrapLabelTooltipOnlyWhenCut()
    {
        QFETCH(QString, text);
        QFETCH(bool, elided);
        WordWrapLabel label(1052);
        label.setMaxLineCount(3);
        label.setText(text);
        const int lineHeight = label.fontMetrics().lineSpacing();
        QVERIFY(label.heightForWidth(300) <= 3 * lineHeight + 2);
        label.resize(300, label.heightForWidth(300));
        label.show();
        label.grab();
        QCOMPARE(label.isTextElided(), elided);
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), label.mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(&label, &help);
        QCOMPARE(QToolTip::isVisible() ? QToolTip::text() : QString(), elided ? text : QString());
        QToolTip::hideText();
    }

    void tabIndicatorFollowsCheckedTab()
    {
        QWidget row;
        auto* layout = new QHBoxLayout(&row);
        layout->addStretch();
        KelExclusiveButtonGroup group(1037);
        QList<KelButton*> buttons;
        for (int i = 0; i < 3; ++i) {
            buttons << group.createButton(i);
            buttons.last()->setText(QStringLiteral("Tab %1").arg(i));
            layout->addWidget(buttons.last());
        }
        group.setCheckedByUserDataSilently(0);
        row.resize(400, 40);
        auto* indicator = new TabIndicator(&row, &group);
        row.show();
        QVERIFY(QTest::qWaitForWindowExposed(&row));
        auto extentOf = [&](KelButton* b) { return qMakePair(b->x(), b->x() + b->width()); };
        QCOMPARE(qMakePair(indicator->barLeft(), indicator->barRight()), extentOf(buttons[0]));

        group.setCheckedByUserData(2);
        QTRY_COMPARE(qMakePair(indicator->barLeft(), indicator->barRight()), extentOf(buttons[2]));

        // A resize moves the tabs; the bar jumps with them, without an animation.
        row.resize(600, 40);
        QCOMPARE(qMakePair(indicator->barLeft(), indicator->barRight()), extentOf(buttons[2]));
        QCOMPARE(indicator->size(), row.size());
    }

    void lineSpacingSelectorStaysInRange()
    {
        LineSpacingSelector selector;
        QSignalSpy values(&selector, &LineSpacingSelector::valueChanged);
        selector.setRange(2, 6);
        QCOMPARE(selector.value(), 2);
        selector.setRange(0, 4);
        selector.setValueSilently(9);
        QCOMPARE(selector.value(), 4);
        QVERIFY(!selector.increaseButton()->isEnabled());
        QVERIFY(!selector.increaseLabel()->isEnabled());
        QVERIFY(selector.decreaseButton()->isEnabled());
        QCOMPARE(values.count(), 0);

        selector.show();
        QVERIFY(QTest::qWaitForWindowExposed(&selector));
        clickThroughWindow(selector.decreaseButton());
        QTRY_COMPARE(values.count(), 1);
        QCOMPARE(values.at(0).at(0).toInt(), 3);
        QVERIFY(selector.increaseButton()->isEnabled() && selector.increaseLabel()->isEnabled());
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestSettingsWidgets>(argc, argv, QStringLiteral("settings-widgets-test"));
}

#include "tst_settingswidgets.moc"
