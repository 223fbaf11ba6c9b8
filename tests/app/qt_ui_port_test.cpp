#include "app/progress_window.h"
#include "app/qt_ui_port.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class QtUiPortTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void messageBoxBreaksLinesAtCarriageReturns();
    void questionAnswersYesOrNo_data();
    void questionAnswersYesOrNo();
    void busyCursorNestsAndRestores();
    void opensAProgressWindowOverTheOwner();
};

namespace {

// Presses the button of the next modal message box and reports what the box showed.
struct BoxAnswer {
    QString text;
    QMessageBox::StandardButtons buttons;
};

void answerNextBox(QObject* context, QMessageBox::StandardButton press, BoxAnswer& seen)
{
    QTimer::singleShot(0, context, [press, &seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        seen.text = box->text();
        seen.buttons = box->standardButtons();
        box->button(press)->click();
    });
}

} // namespace

void QtUiPortTest::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window outlived its test");
}

void QtUiPortTest::messageBoxBreaksLinesAtCarriageReturns()
{
    app::QtUiPort port;
    BoxAnswer seen;
    answerNextBox(this, QMessageBox::Ok, seen);
    port.showMessage(core::messages::couldNotOpenAvi("/films/<fm>.avi"));
    QCOMPARE(seen.text, QStringLiteral("Could not open AVI\n/films/<fm>.avi"));
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    answerNextBox(this, QMessageBox::Ok, seen);
    port.promptWholeNumber();
    QVERIFY(seen.text.contains(QStringLiteral("whole number")));
}

void QtUiPortTest::questionAnswersYesOrNo_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("Yes") << true;
    QTest::newRow("No") << false;
}

void QtUiPortTest::questionAnswersYesOrNo()
{
    QFETCH(bool, yes);
    app::QtUiPort port;
    BoxAnswer seen;
    answerNextBox(this, yes ? QMessageBox::Yes : QMessageBox::No, seen);
    QCOMPARE(port.askYesNo(core::messages::differentTotalFrames(990, 1000)), yes);
    QCOMPARE(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    QVERIFY(seen.text.startsWith(
        QStringLiteral("FM and LM-AVI have different total frames (LM: 990 / FM: 1000)\n")));
    QVERIFY(!seen.text.contains(QLatin1Char('\r')));
}

void QtUiPortTest::busyCursorNestsAndRestores()
{
    app::QtUiPort port;
    QVERIFY(QApplication::overrideCursor() == nullptr);
    {
        core::BusyCursor outer(port);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        {
            core::BusyCursor inner(port);
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        }
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

void QtUiPortTest::opensAProgressWindowOverTheOwner()
{
    QWidget owner;
    owner.show();
    QVERIFY(QTest::qWaitForWindowActive(&owner));
    app::QtUiPort port(&owner);
    {
        std::unique_ptr<core::ProgressPort> progress = port.openProgress();
        auto* window = dynamic_cast<app::ProgressWindow*>(progress.get());
        QVERIFY(window);
        QCOMPARE(window->parentWidget(), &owner);
        QVERIFY(window->isVisible());
        QVERIFY(window->testAttribute(Qt::WA_ShowWithoutActivating));
    }
    QCOMPARE(owner.findChildren<app::ProgressWindow*>().size(), 0);
}

QTEST_MAIN(QtUiPortTest)
#include "qt_ui_port_test.moc"
