#include "app/progress_window.h"
#include "window_test_support.h"

#include <QSignalSpy>

// The progress window of Create: its title, bar, statistics and Abort.
class ProgressWindowTest : public WindowTest {
    Q_OBJECT

private slots:
    void titleAndBar_data()
    {
        QTest::addColumn<int>("upper");
        QTest::addColumn<QList<int>>("positions");
        QTest::addColumn<QString>("titles");
        QTest::addColumn<int>("bar"); // the bar stays within its range, the title does not
        row("first call", 120, QList<int>{0}, "Progress [0%]", 0);
        row("same percentage", 1000, QList<int>{370, 379, 380, 380}, "Progress [37%] Progress [38%]", 380);
        row("above 100", 10, QList<int>{15}, "Progress [150%]", 10);
        row("upper equal to lower", 0, QList<int>{0, 5}, "Progress [0%]", 0);
        row("upper below lower", -5, QList<int>{7}, "Progress [0%]", 0);
        row("no overflow", 2000000000, QList<int>{1999999999}, "Progress [99%]", 1999999999);
    }
    void titleAndBar()
    {
        QFETCH(int, upper);
        QFETCH(QList<int>, positions);
        app::ProgressWindow window;
        QSignalSpy titles(&window, &QWidget::windowTitleChanged);
        window.setRange(0, upper, 1);
        for (int position : positions)
            window.setPosition(position);
        QStringList written;
        for (const QList<QVariant>& change : titles)
            written << change.front().toString();
        QTEST(written.join(' '), "titles");
        QTEST(window.setPosition(1), "bar"); // it returns the bar's previous position
        // Shown by the first position; outside the pump an Escape reaches nothing, Abort cancels.
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(window.isVisible() && !window.cancelled());
        QTest::mouseClick(window.findChild<QPushButton*>("abortButton"), Qt::LeftButton);
        QVERIFY(window.cancelled() && !window.isVisible());
    }

    void statistics()
    {
        app::ProgressWindow window;
        window.setStatistics({701, 735051776, 0, 999, 3221225472});
        QStringList shown;
        for (auto name : {"fmLengthLabel", "fmSizeLabel", "lmLengthLabel", "lmSizeLabel", "totalSizeLabel"})
            shown << window.findChild<QLabel*>(name)->text();
        QCOMPARE(shown, QStringList({"701", "735.051.776 (701)", "0", "999 (0)", "3.221.225.472 (3072)"}));
        auto* total = window.findChild<QLabel*>("totalSizeLabel"); // the widest value: nothing clipped
        QVERIFY(total->sizeHint().width() <= total->width());
    }
};

QTEST_MAIN(ProgressWindowTest)
#include "progress_window_test.moc"
