#include "app/plan_chart.h"
#include "app/plan_window.h"
#include "window_test_support.h"

// The plan view: opened from the main window after an Analyze, kept in step with it, its limit
// line dragged, and its pictures.
class PlanWindowTest : public WindowTest {
    Q_OBJECT

private slots:
    // A limit dragged in the view reaches the main window, which replans; typed limits reach the view,
    // and so do Fit's and, once the Low Motion AVI is known, the exact size of the Final AVI.
    // A picture has the size asked; an SVG has the view's size and takes the extension its name lacks,
    // and one that cannot be written brings a message.
    void keepsInStepWithTheMainWindowAndExports()
    {
        const QString dir = QString::fromStdString(test_support::freshTempDir("plan_export"));
        Fixture f;
        QVERIFY(!f.at<QPushButton>("planButton")->isEnabled());
        f.fill({{"fmPathEdit", test_support::fastMotionAvi()}});
        f.click("analyzeButton");
        f.click("planButton");
        auto* plan = f.window.findChild<app::PlanWindow*>();
        QVERIFY(plan != nullptr && QTest::qWaitForWindowExposed(plan));
        app::PlanChart& chart = plan->chart();
        const core::PlanTable before = f.window.job().state.planTable;
        const QRect plot = chart.plotRect(chart.size());
        const engine::KbpsScale scale = chart.kbpsScale(plot.height() - 1);
        const QPoint onLine(plot.center().x(), plot.top() + scale.rowOf(700));
        const QPoint target(onLine.x(), plot.top() + plot.height() / 3);
        QTest::mousePress(&chart, Qt::LeftButton, {}, onLine);
        QTest::mouseMove(&chart, target);
        QTest::mouseRelease(&chart, Qt::LeftButton, {}, target);
        QCOMPARE(f.text("highBitrateLimitEdit"), QString::number(scale.kbpsAt(plot.height() / 3)));
        QVERIFY(f.window.job().state.planTable != before);
        QCOMPARE(chart.model().plan(), f.window.job().state.planTable);
        f.type("highBitrateLimitEdit", "9", true);
        QCOMPARE(chart.model().limitKbps(), 9);
        f.fill({{"lmPathEdit", test_support::lowMotionAvi()}});
        f.click("fitButton"); // enabled once the Low Motion AVI gives the exact size
        QVERIFY(f.text("highBitrateLimitEdit") != "9" && chart.model().exactFinalBytes().has_value());
        QVERIFY(f.at<QLabel>("exactSizeLabel")->text().startsWith("Final AVI (MB): "));
        QVERIFY(plan->exportChart(dir + "/plan.png", QSize(640, 300)));
        QCOMPARE(QImage(dir + "/plan.png").size(), QSize(640, 300));
        f.picker.answers = {dir + "/view", dir + "/no/such/folder/plan.svg"};
        plan->findChild<QAction*>("exportSvgAction")->trigger();
        plan->findChild<QAction*>("exportSvgAction")->trigger();
        QFile svg(dir + "/view.svg");
        const QByteArray text = svg.open(QIODevice::ReadOnly) ? svg.readAll() : QByteArray();
        const QSize size = chart.size();
        QVERIFY(text.contains(
            QStringLiteral("viewBox=\"0 0 %1 %2\"").arg(size.width()).arg(size.height()).toUtf8()));
        QVERIFY(text.count("<rect") > 40 && text.contains("<text")); // a bar for each of the 40 seconds
        QCOMPARE(f.port.messages, std::vector<std::string>({"The picture could not be saved:\r" +
                                                            dir.toStdString() + "/no/such/folder/plan.svg"}));
    }
};

QTEST_MAIN(PlanWindowTest)
#include "plan_window_test.moc"
