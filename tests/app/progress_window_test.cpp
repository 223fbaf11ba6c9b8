#include "app/progress_window.h"

#include <QSignalSpy>
#include <QTest>
#include <QtWidgets>

using app::ProgressWindow;

class ProgressWindowTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window outlived its test");
    }

    void writesTheTitleOnlyWhenThePercentageChanges_data()
    {
        QTest::addColumn<int>("upper");
        QTest::addColumn<QList<int>>("positions");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<int>("bar"); // the bar stays within its range, the title does not
        QTest::newRow("first call") << 120 << QList<int>{0} << QStringList{"Progress [0%]"} << 0;
        QTest::newRow("unchanged percentage written once")
            << 1000 << QList<int>{370, 379, 380, 380} << QStringList{"Progress [37%]", "Progress [38%]"}
            << 380;
        QTest::newRow("truncated") << 3 << QList<int>{2} << QStringList{"Progress [66%]"} << 2;
        QTest::newRow("above 100") << 10 << QList<int>{15} << QStringList{"Progress [150%]"} << 10;
        QTest::newRow("upper equal to lower") << 0 << QList<int>{0, 5} << QStringList{"Progress [0%]"} << 0;
        QTest::newRow("upper below lower") << -5 << QList<int>{7} << QStringList{"Progress [0%]"} << 0;
        QTest::newRow("no overflow") << 2000000000 << QList<int>{1999999999} << QStringList{"Progress [99%]"}
                                     << 1999999999;
    }
    void writesTheTitleOnlyWhenThePercentageChanges()
    {
        QFETCH(int, upper);
        QFETCH(QList<int>, positions);
        ProgressWindow window;
        QSignalSpy titles(&window, &QWidget::windowTitleChanged);
        window.setRange(0, upper, 1);
        QStringList written;
        for (int position : positions)
            window.setPosition(position);
        for (const QList<QVariant>& change : titles)
            written << change.front().toString();
        QTEST(written, "titles");
        QTEST(window.setPosition(1), "bar"); // it returns the bar's previous position
        QVERIFY(window.isVisible());
    }

    void showsTheStatisticsWithSeparators()
    {
        ProgressWindow window;
        window.setStatistics({701, 735051776, 0, 999, 3221225472});
        QStringList shown;
        for (const char* name :
             {"fmLengthLabel", "fmSizeLabel", "lmLengthLabel", "lmSizeLabel", "totalSizeLabel"}) {
            auto* label = window.findChild<QLabel*>(name);
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width(),
                     name);
            shown << label->text();
        }
        QCOMPARE(shown, QStringList({"701", "735.051.776 (701)", "0", "999 (0)", "3.221.225.472 (3072)"}));
    }

    void abortCancelsAndStopsThePump()
    {
        ProgressWindow window;
        window.setRange(0, 10, 1);
        window.setPosition(0);
        QTest::keyClick(&window, Qt::Key_Escape); // outside the pump an Escape reaches nothing
        QVERIFY(window.isVisible() && !window.cancelled());
        QTest::mouseClick(window.findChild<QPushButton*>("abortButton"), Qt::LeftButton);
        bool ran = false;
        QTimer::singleShot(0, &window, [&ran] { ran = true; });
        window.pumpMessages(true);
        QVERIFY(window.cancelled() && !window.isVisible() && !ran);
        QCoreApplication::processEvents();
    }
};

QTEST_MAIN(ProgressWindowTest)
#include "progress_window_test.moc"
