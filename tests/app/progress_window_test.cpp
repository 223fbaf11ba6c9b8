#include "app/progress_window.h"
#include "window_test_support.h"

// The progress window of Create: its title, bar, statistics and Abort.
class ProgressWindowTest : public WindowTest {
    Q_OBJECT

private slots:
    void titleAndBar_data()
    {
        QTest::addColumn<int>("upper");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("bar"); // the bar stays within its range
        row("first call", 120, 0, "Progress [0%]", 0);
        row("upper equal to lower", 0, 5, "Progress [0%]", 0);
        row("upper below lower", -5, 7, "Progress [0%]", 0);
        row("no overflow", 2000000000, 1999999999, "Progress [99%]", 1999999999);
    }
    void titleAndBar()
    {
        QFETCH(int, upper);
        QFETCH(int, position);
        app::ProgressWindow window;
        window.setRange(0, upper, 1);
        window.setPosition(position);
        QTEST(window.windowTitle(), "title");
        QTEST(window.setPosition(1), "bar"); // it returns the bar's previous position
    }

    // Each figure in its label, the widest one whole; shown by the first position, the window ignores
    // Escape outside the pump, and Abort cancels and hides it.
    void statisticsAndAbort()
    {
        app::ProgressWindow window;
        window.setStatistics({701, 735051776, 0, 999, 3221225472});
        QStringList shown;
        for (auto name : {"fmLengthLabel", "fmSizeLabel", "lmLengthLabel", "lmSizeLabel", "totalSizeLabel"})
            shown << window.findChild<QLabel*>(name)->text();
        QCOMPARE(shown, QStringList({"701", "735.051.776 (701)", "0", "999 (0)", "3.221.225.472 (3072)"}));
        auto* total = window.findChild<QLabel*>("totalSizeLabel");
        QVERIFY(total->sizeHint().width() <= total->width());
        window.setPosition(0);
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(window.isVisible() && !window.cancelled());
        QTest::mouseClick(window.findChild<QPushButton*>("abortButton"), Qt::LeftButton);
        QVERIFY(window.cancelled() && !window.isVisible());
    }
};

QTEST_MAIN(ProgressWindowTest)
#include "progress_window_test.moc"
