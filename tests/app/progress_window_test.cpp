#include "app/progress_window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using app::ProgressWindow;

class ProgressWindowTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void writesTheTitleOnlyWhenThePercentageChanges_data();
    void writesTheTitleOnlyWhenThePercentageChanges();
    void movesTheBarAndReturnsItsPreviousPosition();
    void showsItselfWithoutTakingTheFocus();
    void showsNoTotalsBeforeTheFirstStatistics();
    void showsSecondsAndSizesWithSeparators_data();
    void showsSecondsAndSizesWithSeparators();
    void abortButtonCancelsAndHides();
    void escapeCancelsOnlyWhenThePumpAllowsIt_data();
    void escapeCancelsOnlyWhenThePumpAllowsIt();
    void pumpRunsPendingEventsAndTakesTheFocus();
    void pumpDoesNothingOnceCancelled();
};

void ProgressWindowTest::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window outlived its test");
}

void ProgressWindowTest::writesTheTitleOnlyWhenThePercentageChanges_data()
{
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<QList<int>>("positions");
    QTest::addColumn<QStringList>("titles");

    QTest::newRow("first call writes the title") << 0 << 120 << QList<int>{0} << QStringList{"Progress [0%]"};
    QTest::newRow("every thirtieth of 120 groups")
        << 0 << 120 << QList<int>{0, 30, 60, 90}
        << QStringList{"Progress [0%]", "Progress [25%]", "Progress [50%]", "Progress [75%]"};
    QTest::newRow("same whole percentage written once")
        << 0 << 1000 << QList<int>{370, 372, 379, 380} << QStringList{"Progress [37%]", "Progress [38%]"};
    QTest::newRow("truncated toward zero") << 0 << 3 << QList<int>{2} << QStringList{"Progress [66%]"};
    QTest::newRow("empty range gives 0") << 0 << 0 << QList<int>{0, 5} << QStringList{"Progress [0%]"};
    QTest::newRow("upper below lower gives 0") << 10 << 5 << QList<int>{7} << QStringList{"Progress [0%]"};
    QTest::newRow("above the range not limited")
        << 0 << 10 << QList<int>{15} << QStringList{"Progress [150%]"};
    QTest::newRow("large positions do not overflow")
        << 0 << 2000000000 << QList<int>{1999999999} << QStringList{"Progress [99%]"};
}

void ProgressWindowTest::writesTheTitleOnlyWhenThePercentageChanges()
{
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(QList<int>, positions);
    QFETCH(QStringList, titles);

    ProgressWindow window;
    QCOMPARE(window.windowTitle(), QString());
    QSignalSpy titleChanges(&window, &QWidget::windowTitleChanged);
    window.setRange(lower, upper, 1);
    for (int position : positions)
        window.setPosition(position);
    QStringList written;
    for (const QList<QVariant>& change : titleChanges)
        written << change.front().toString();
    QCOMPARE(written, titles);
}

void ProgressWindowTest::movesTheBarAndReturnsItsPreviousPosition()
{
    ProgressWindow window;
    window.setRange(0, 120, 1);
    auto* bar = window.findChild<QProgressBar*>("progressBar");
    QVERIFY(bar);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 120);
    QCOMPARE(window.step(), 1);
    QCOMPARE(window.setPosition(30), 0);
    QCOMPARE(bar->value(), 30);
    QCOMPARE(window.setPosition(60), 30);
    QCOMPARE(bar->value(), 60);
    // The bar stays within its range; the title does not.
    QCOMPARE(window.setPosition(150), 60);
    QCOMPARE(bar->value(), 120);
    QCOMPARE(window.windowTitle(), QStringLiteral("Progress [125%]"));
}

void ProgressWindowTest::showsItselfWithoutTakingTheFocus()
{
    QWidget owner;
    owner.show();
    QVERIFY(QTest::qWaitForWindowActive(&owner));
    {
        ProgressWindow window(&owner);
        window.setRange(0, 10, 1);
        QVERIFY(!window.isVisible());
        window.setPosition(1);
        QVERIFY(window.isVisible());
        // The offscreen platform activates every window it shows, so the request is what can be
        // checked here.
        QVERIFY(window.testAttribute(Qt::WA_ShowWithoutActivating));
        QCOMPARE(window.parentWidget(), &owner);
    }
}

void ProgressWindowTest::showsNoTotalsBeforeTheFirstStatistics()
{
    ProgressWindow window;
    for (const char* name :
         {"fmLengthLabel", "fmSizeLabel", "lmLengthLabel", "lmSizeLabel", "totalSizeLabel"}) {
        auto* label = window.findChild<QLabel*>(name);
        QVERIFY2(label, name);
        QCOMPARE(label->text(), QString());
    }
}

void ProgressWindowTest::showsSecondsAndSizesWithSeparators_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("secondsText");
    QTest::addColumn<QString>("sizeText");

    QTest::newRow("whole mebibytes") << qint64(701) << qint64(735051776) << "701"
                                     << "735.051.776 (701)";
    QTest::newRow("just below one mebibyte") << qint64(0) << qint64(1048575) << "0"
                                             << "1.048.575 (0)";
    QTest::newRow("one and a half mebibytes") << qint64(3) << qint64(1572864) << "3"
                                              << "1.572.864 (1)";
    QTest::newRow("three digits, no separator") << qint64(12) << qint64(999) << "12"
                                                << "999 (0)";
    QTest::newRow("above 2 GB") << qint64(7200) << qint64(3221225472) << "7200"
                                << "3.221.225.472 (3072)";
}

void ProgressWindowTest::showsSecondsAndSizesWithSeparators()
{
    QFETCH(qint64, seconds);
    QFETCH(qint64, bytes);
    QFETCH(QString, secondsText);
    QFETCH(QString, sizeText);

    ProgressWindow window;
    core::ProgressStatistics statistics;
    statistics.fmSeconds = seconds;
    statistics.fmBytes = bytes;
    statistics.lmSeconds = seconds + 1;
    statistics.lmBytes = bytes;
    statistics.totalBytes = bytes;
    window.setStatistics(statistics);
    QCOMPARE(window.findChild<QLabel*>("fmLengthLabel")->text(), secondsText);
    QCOMPARE(window.findChild<QLabel*>("lmLengthLabel")->text(), QString::number(seconds + 1));
    for (const char* name : {"fmSizeLabel", "lmSizeLabel", "totalSizeLabel"})
        QCOMPARE(window.findChild<QLabel*>(name)->text(), sizeText);
    // The value statics are wide enough for what they show.
    auto* label = window.findChild<QLabel*>("totalSizeLabel");
    QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width());
}

void ProgressWindowTest::abortButtonCancelsAndHides()
{
    ProgressWindow window;
    window.setRange(0, 10, 1);
    window.setPosition(0);
    QVERIFY(window.isVisible());
    QVERIFY(!window.cancelled());
    auto* abort = window.findChild<QPushButton*>("abortButton");
    QVERIFY(abort);
    QVERIFY(!abort->autoDefault());
    QTest::mouseClick(abort, Qt::LeftButton);
    QVERIFY(window.cancelled());
    QVERIFY(!window.isVisible());
    window.pumpMessages(true);
    QVERIFY(window.cancelled());
}

void ProgressWindowTest::escapeCancelsOnlyWhenThePumpAllowsIt_data()
{
    QTest::addColumn<bool>("allowEscape");
    QTest::newRow("allowed") << true;
    QTest::newRow("not allowed") << false;
}

void ProgressWindowTest::escapeCancelsOnlyWhenThePumpAllowsIt()
{
    QFETCH(bool, allowEscape);

    ProgressWindow window;
    window.setRange(0, 10, 1);
    window.setPosition(0);
    // Outside the pump an Escape reaches nothing.
    QTest::keyClick(&window, Qt::Key_Escape);
    QVERIFY(!window.cancelled());
    QCoreApplication::postEvent(&window, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    window.pumpMessages(allowEscape);
    QCOMPARE(window.cancelled(), allowEscape);
    QCOMPARE(window.isVisible(), !allowEscape);
}

void ProgressWindowTest::pumpRunsPendingEventsAndTakesTheFocus()
{
    QWidget owner;
    owner.show();
    QVERIFY(QTest::qWaitForWindowActive(&owner));
    ProgressWindow window(&owner);
    window.setRange(0, 10, 1);
    window.setPosition(0);
    bool ran = false;
    QTimer::singleShot(0, &window, [&ran] { ran = true; });
    window.pumpMessages(true);
    QVERIFY(ran);
    QTRY_COMPARE(QApplication::activeWindow(), &window);
    QVERIFY(!window.cancelled());
}

void ProgressWindowTest::pumpDoesNothingOnceCancelled()
{
    ProgressWindow window;
    window.abortCopy();
    bool ran = false;
    QTimer::singleShot(0, &window, [&ran] { ran = true; });
    window.pumpMessages(true);
    QVERIFY(!ran);
    QVERIFY(window.cancelled());
    QCoreApplication::processEvents();
}

QTEST_MAIN(ProgressWindowTest)
#include "progress_window_test.moc"
