#include "app/plan_chart.h"
#include "app/plan_window.h"
#include "media.h"
#include "window_test_support.h"

#include <set>

// The plan view: opened from the main window after an Analyze, kept in step with it, its limit
// line dragged, and its pictures.
class PlanWindowTest : public WindowTest {
    Q_OBJECT

private:
    // Analyzes the usual film in f's window and opens the plan view.
    static app::PlanWindow* openPlan(Fixture& f)
    {
        f.at("fmPathEdit")->setText(QString::fromStdString(test_support::fastMotionAvi(1000)));
        f.click("analyzeButton");
        f.click("planButton");
        auto* plan = f.window.findChild<app::PlanWindow*>();
        return plan != nullptr && QTest::qWaitForWindowExposed(plan) ? plan : nullptr;
    }

private slots:
    void draggingTheLimitLineReplansInTheMainWindow()
    {
        Fixture f;
        QVERIFY(!f.at<QPushButton>("planButton")->isEnabled());
        QPointer<app::PlanWindow> plan = openPlan(f);
        QVERIFY(plan && plan->windowTitle() == "Plan");
        app::PlanChart& chart = plan->chart();
        const core::PlanTable before = f.window.job().state.planTable;
        const QRect plot = chart.plotRect(chart.size());
        const engine::KbpsScale scale = chart.kbpsScale(plot.height() - 1);
        const QPoint onLine(plot.center().x(), plot.top() + scale.rowOf(700));
        const QPoint target(onLine.x(), plot.top() + plot.height() / 3);
        QTest::mousePress(&chart, Qt::LeftButton, {}, onLine);
        QTest::mouseMove(&chart, target);
        QTest::mouseRelease(&chart, Qt::LeftButton, {}, target);
        const int64_t limit = scale.kbpsAt(plot.height() / 3);
        QCOMPARE(f.text("highBitrateLimitEdit"), QString::number(limit));
        QVERIFY(f.window.job().state.planTable != before);
        QCOMPARE(chart.model().plan(), f.window.job().state.planTable);
        QCOMPARE(f.at<QLabel>("lmBitrateLabel")->text(), QString::number(chart.model().estimateKbps()));
        f.type("highBitrateLimitEdit", "9", true); // typed limits reach the view as well
        QCOMPARE(chart.model().limitKbps(), 9);
        f.window.close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(plan.isNull());
    }

    void exportsPicturesAtTheSizeAsked()
    {
        const QString dir = QString::fromStdString(test_support::freshTempDir("plan_export"));
        Fixture f;
        app::PlanWindow* plan = openPlan(f);
        QVERIFY(plan != nullptr);
        QVERIFY(plan->exportChart(dir + "/plan.png", QSize(640, 300)));
        const QImage image(dir + "/plan.png");
        QCOMPARE(image.size(), QSize(640, 300));
        std::set<QRgb> colours; // bands, bars, lines and text, not a blank picture
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                colours.insert(image.pixel(x, y));
        QVERIFY(colours.size() > 20);
        f.picker.answers = {dir + "/view", dir + "/no/such/folder/plan.svg"};
        plan->findChild<QAction*>("exportSvgAction")->trigger();
        plan->findChild<QAction*>("exportSvgAction")->trigger();
        QFile svg(dir + "/view.svg");
        QVERIFY(svg.open(QIODevice::ReadOnly));
        const QByteArray text = svg.readAll();
        const QSize size = plan->chart().size();
        QVERIFY(text.contains(
            QStringLiteral("viewBox=\"0 0 %1 %2\"").arg(size.width()).arg(size.height()).toUtf8()));
        QVERIFY(text.count("<rect") > 40 && text.contains("<text")); // a bar for each of the 40 seconds
        QCOMPARE(f.port.messages, std::vector<std::string>({"The picture could not be saved:\r" +
                                                            dir.toStdString() + "/no/such/folder/plan.svg"}));
    }
};

QTEST_MAIN(PlanWindowTest)
#include "plan_window_test.moc"
