#include "app/about_box.h"
#include "app/plan_window.h"
#include "app/progress_window.h"
#include "core/format_thousands.h"
#include "engine/exact_size.h"
#include "engine/quiet_ui_port.h"
#include "media.h"
#include "window_test_support.h"

#include <filesystem>

// The main window: its defaults and layout, its rules, pickers and profiles, and Create's abort.
class MainWindowTest : public WindowTest {
    Q_OBJECT

private slots:
    void opensWithTheDefaults()
    {
        Fixture f;
        QCOMPARE(f.window.windowTitle(), QStringLiteral("Kestrel - Ion 1.2 - Nov. 2000"));
        QStringList seen;
        for (const char* name :
             {"fmPathEdit", "lmPathEdit", "finalPathEdit", "endingPathEdit", "audioEdit", "finalSizeEdit",
              "highBitrateLimitEdit", "framePosEdit", "stopAfterFramesEdit", "endingCheck", "stopAfterCheck",
              "smootherCheck", "statisticFileCheck"})
            seen << (f.at<QCheckBox>(name) ? QString::number(f.at<QCheckBox>(name)->isChecked())
                                           : f.text(name));
        QCOMPARE(seen, QStringList({"", "", "", "", "128", "702", "700", "0", "0", "0", "0", "1", "0"}));
        QVERIFY(QApplication::focusWidget() == f.at("fmPathEdit") && !f.window.job().state.analysed);
        // Tab follows the form's order and skips the disabled ending controls.
        for (const char* next :
             {"fmBrowseButton", "endingCheck", "stopAfterCheck", "audioEdit", "finalSizeEdit"}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), next);
        }
    }

    // With the desktop font no control is clipped by its parent or overlaps a sibling (a control of
    // the window over a group box), every caption fits its control and no button is a default one.
    void laysOutWithoutClipping()
    {
        Fixture f;
        QStringList groups; // the controls each group holds; the checks below keep them inside it
        for (QGroupBox* group : f.window.findChildren<QGroupBox*>())
            groups << group->objectName() + " " + QString::number(group->findChildren<QWidget*>().size());
        QCOMPARE(groups.join(' '), "thresholdGroup 7 sourceGroup 10 destinationGroup 7 otherGroup 3");
        QList<QWidget*> widgets = f.window.findChildren<QWidget*>();
        widgets.removeIf([](QWidget* widget) { return widget->isHidden(); }); // the smoother's settings
        for (QWidget* widget : widgets) {
            const QByteArray name = widget->objectName().toUtf8();
            QVERIFY2(widget->parentWidget()->rect().contains(widget->geometry()), name);
            for (QWidget* other : widgets)
                QVERIFY2(other == widget || other->parentWidget() != widget->parentWidget() ||
                             !widget->geometry().intersects(other->geometry()),
                         name + " overlaps " + other->objectName().toUtf8());
            const int needed =
                qobject_cast<QCheckBox*>(widget) // a check box needs its box too
                    ? widget->sizeHint().width()
                    : widget->fontMetrics().horizontalAdvance(widget->property("text").toString());
            QVERIFY2(needed <= widget->width(), name + " cuts its text");
            if (auto* button = qobject_cast<QPushButton*>(widget))
                QVERIFY2(!button->isDefault() && !button->autoDefault(), name);
        }
    }

    void enableRulesFollowTheTwoBoxes_data()
    {
        QTest::addColumn<bool>("ending");
        QTest::addColumn<bool>("stopAfter");
        QTest::addColumn<QString>("enabled");
        row("neither", false, false, "stopAfterCheck");
        row("stop after", false, true, "stopAfterCheck stopAfterFramesEdit");
        row("ending", true, false, "endingPathEdit endingBrowseButton framePosEdit");
        row("both: stop after stays ticked", true, true, "endingPathEdit endingBrowseButton framePosEdit");
    }
    void enableRulesFollowTheTwoBoxes()
    {
        QFETCH(bool, ending);
        QFETCH(bool, stopAfter);
        Fixture f;
        if (stopAfter) // first: it cannot be ticked once the ending disables it
            f.click("stopAfterCheck");
        if (ending)
            f.click("endingCheck");
        QCOMPARE(f.at<QCheckBox>("stopAfterCheck")->isChecked(), stopAfter);
        QStringList enabled;
        for (const char* name : {"endingPathEdit", "endingBrowseButton", "framePosEdit", "stopAfterCheck",
                                 "stopAfterFramesEdit"})
            if (f.at<QWidget>(name)->isEnabled())
                enabled << name;
        QTEST(enabled.join(' '), "enabled");
    }

    void numberPrompt_data()
    {
        QTest::addColumn<QString>("emptied"); // a frame count emptied first: no handler, no prompt
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("prompts");
        QTest::addColumn<QString>("result");
        row("fourth digit behind 128", "", "audioEdit", "4", 0, "1284");
        row("no other characters", "", "finalSizeEdit", "a-.", 0, "702");
        row("emptied audio comes back", "", "audioEdit", "\b", 1, "128");
        row("emptied limit comes back", "", "highBitrateLimitEdit", "\b", 1, "700");
        row("empty field before the edit undoes it", "framePosEdit", "audioEdit", "4", 1, "128");
        row("empty field after the edit keeps it", "stopAfterFramesEdit", "audioEdit", "4", 1, "1284");
    }
    void numberPrompt()
    {
        QFETCH(QString, emptied);
        QFETCH(QString, field);
        QFETCH(QString, keys);
        QFETCH(QString, result);
        Fixture f;
        if (!emptied.isEmpty()) {
            f.click(emptied == "framePosEdit" ? "endingCheck" : "stopAfterCheck");
            f.type(emptied, "\b", true);
        }
        f.type(field, keys, keys == "\b");
        QTEST(f.port.prompts, "prompts");
        QCOMPARE(f.text(field), result);
        QCOMPARE(QApplication::focusWidget()->objectName(), emptied.isEmpty() ? field : emptied);
        QCOMPARE(f.text(emptied.isEmpty() ? field : emptied), emptied.isEmpty() ? result : "0");
        if (f.port.prompts == 0) // the caret stays behind the typed text
            QCOMPARE(f.at(field)->cursorPosition(), result.size());
    }

    void estimateRefreshesOnlyWhileAnalysed()
    {
        Fixture f;
        QLabel* label = f.at<QLabel>("lmBitrateLabel");
        f.type("audioEdit", "4");
        f.click("smootherCheck");
        QVERIFY(label->text().isEmpty() && f.settings().audioKbps == 1284);
        f.at("fmPathEdit")->setText(QString::fromStdString(test_support::fastMotionAvi(1000)));
        f.click("analyzeButton");
        QCOMPARE(label->text().toStdString(), f.settings().lowMotionBitrateText);
        f.type("finalSizeEdit", "1", true); // 1 MB cannot hold the film
        QCOMPARE(label->text(), QStringLiteral("n/a"));
        f.type("finalSizeEdit", "0000");
        const int large = label->text().toInt();
        f.type("audioEdit", "0"); // more audio leaves less room for the video
        QVERIFY(0 < label->text().toInt() && label->text().toInt() < large);
    }

    // With the Low Motion AVI the exact size shows beside the estimate; Fit sets the limit, and the
    // Final AVI Create writes at it has that size and passes verify.
    void exactSizeFitAndVerify()
    {
        const std::string dir = test_support::freshTempDir("window_fit");
        Fixture f;
        QLabel* label = f.at<QLabel>("exactSizeLabel");
        f.at("fmPathEdit")->setText(QString::fromStdString(test_support::fastMotionAvi()));
        f.at("finalPathEdit")->setText(QString::fromStdString(dir + "/final.avi"));
        f.type("finalSizeEdit", "4", true);
        f.click("analyzeButton");
        QVERIFY(label->text().isEmpty() && !f.at<QPushButton>("fitButton")->isEnabled()); // no LM yet
        f.at("lmPathEdit")->setText(QString::fromStdString(test_support::lowMotionAvi()));
        QVERIFY(QRegularExpression("Final AVI \\(MB\\): \\d+\\.\\d \\+ 0\\.6 audio")
                    .match(label->text())
                    .hasMatch());
        QVERIFY(label->fontMetrics().horizontalAdvance(label->text() + "00") <= label->width());
        f.click("fitButton");
        engine::QuietUiPort quiet;
        engine::SourceTableCache tables;
        const engine::FitResult fit = engine::fitLimit(f.settings(), tables, quiet);
        QCOMPARE(f.text("highBitrateLimitEdit"), QString::number(fit.limit));
        QCOMPARE(label->text().section(' ', 3, 3),
                 QString::fromStdString(core::formatMegabytes(fit.size.fileBytes)));
        f.click("createButton");
        QCOMPARE(qint64(QFileInfo(QString::fromStdString(dir + "/final.avi")).size()),
                 qint64(fit.size.fileBytes));
        f.window.findChild<QAction*>("verifyAction")->trigger();
        QCOMPARE(f.port.messages, std::vector<std::string>({"Final AVI verified: 1000 frames"}));
    }

    void pickers_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("result");
        const int open = int(app::PickerKind::Open);
        const int save = int(app::PickerKind::Save);
        row("fast motion", "fm", open, "/films/fm", "/films/fm");
        row("low motion cancelled", "lm", open, QString(), "typed");
        row("final cancelled", "final", save, QString(), "typed");
        row("final without extension", "final", save, "/films/film", "/films/film.avi");
        row("final with another one", "final", save, "/films/film.mpg", "/films/film.mpg");
        row("final ending in a dot", "final", save, "/films/film.", "/films/film..avi");
        row("final in a dotted folder", "final", save, "/films.d/film", "/films.d/film.avi");
    }
    void pickers()
    {
        QFETCH(QString, field);
        QFETCH(int, kind);
        Fixture f;
        f.at(field + "PathEdit")->setText("typed");
        QFETCH(QString, answer);
        f.picker.answers = {answer};
        f.click(field + "BrowseButton");
        QCOMPARE(
            f.picker.calls,
            (std::vector{std::pair{kind, QStringList{"DivX ;-) AVI-Files (*.avi)", "All Files (*.*)"}}}));
        QTEST(f.text(field + "PathEdit"), "result");
    }

    void profileRoundTripAndMissingFile()
    {
        const QString dir = QString::fromStdString(test_support::freshTempDir("profile") + "/");
        Fixture f;
        f.at("fmPathEdit")->setText("/films/fm.avi");
        f.type("audioEdit", "96", true);
        f.click("endingCheck");
        f.at("endingPathEdit")->setText("/films/ending.avi");
        f.picker.answers = {dir + "job", dir + "job.", dir + "no/such/dir/job", dir + "missing.ini"};
        for (const char* button : {"saveButton", "saveButton", "saveButton", "loadButton"})
            f.click(button);
        QCOMPARE(f.port.messages, std::vector<std::string>({"An error occured during save!!!"}));
        QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList({"job..ini", "job.ini"}));
        // A missing file loads as an empty profile; the ending's fields are not part of a profile.
        QCOMPARE(f.text("fmPathEdit") + " " + f.text("audioEdit") + " " + f.text("endingPathEdit"),
                 QStringLiteral(" 0 /films/ending.avi"));
        QVERIFY(!f.at("endingPathEdit")->isEnabled() && !f.at<QCheckBox>("smootherCheck")->isChecked());
        f.window.job().state.analysed = true;
        f.picker.answers << dir + "job.ini";
        f.click("loadButton");
        QCOMPARE(f.text("fmPathEdit") + " " + f.text("audioEdit") + " " + f.text("finalSizeEdit"),
                 QStringLiteral("/films/fm.avi 96 702"));
        QVERIFY(f.at<QCheckBox>("smootherCheck")->isChecked() && !f.window.job().state.analysed);
        const QStringList filters = {"KestrelIon Profile-Files (*.ini)", "All Files (*.*)"};
        QCOMPARE(f.picker.calls.back(), std::pair(int(app::PickerKind::OpenExisting), filters));
        QCOMPARE(f.picker.calls.front(), std::pair(int(app::PickerKind::Save), filters));
    }

    void drops_data()
    {
        QTest::addColumn<QString>("target"); // a control's name, or "" for an empty spot of the window
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("ending");
        QTest::addColumn<QString>("filled");   // path fields holding a path before the drop
        QTest::addColumn<QString>("expected"); // the field that takes the file, "load" or "refused"
        row("AVI on a filled field", "lmPathEdit", "a.avi", false, "lmPathEdit", "lmPathEdit");
        row("any case", "finalPathEdit", "A.AvI", false, "", "finalPathEdit");
        row("ending on", "endingPathEdit", "e.avi", true, "", "endingPathEdit");
        row("ending off", "endingPathEdit", "e.avi", false, "", "refused");
        row("window fills Fast Motion", "", "a.avi", false, "lmPathEdit", "fmPathEdit");
        row("then Low Motion", "audioLabel", "a.avi", true, "fmPathEdit", "lmPathEdit");
        row("nowhere to go", "analyzeButton", "a.avi", false, "fmPathEdit lmPathEdit", "refused");
        row("profile on a field", "fmPathEdit", "job.ini", false, "fmPathEdit", "load");
        row("profile on the window", "", "JOB.INI", false, "", "load");
        row("other file", "fmPathEdit", "film.mkv", false, "", "refused");
        row("no extension", "", "avi", false, "", "refused");
    }
    void drops()
    {
        QFETCH(QString, target);
        QFETCH(QString, file);
        QFETCH(QString, filled);
        const QString path = QString::fromStdString(test_support::freshTempDir("drop") + "/") + file;
        QFile profile(path);
        QVERIFY(profile.open(QIODevice::WriteOnly) && profile.write("[KestrelIon]\nAudio=96\n") > 0);
        profile.close();
        Fixture f;
        QFETCH(bool, ending);
        if (ending)
            f.click("endingCheck");
        for (const QString& name : filled.split(' ', Qt::SkipEmptyParts))
            f.at(name)->setText("/films/" + name);
        QWidget* over = target.isEmpty() ? nullptr : f.at<QWidget>(target);
        const QPoint at = over ? over->mapTo(&f.window, over->rect().center()) : QPoint(1, 1);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f.window, &enter);
        QApplication::sendEvent(&f.window,
                                &drop); // the application delivers it only when entering was accepted
        QStringList outcome;
        for (const char* name : {"fmPathEdit", "endingPathEdit", "lmPathEdit", "finalPathEdit"})
            if (f.text(name) == path)
                outcome << name;
        if (f.text("audioEdit") == "96")
            outcome << "load";
        QCOMPARE(enter.isAccepted() && drop.isAccepted(), !outcome.isEmpty());
        QVERIFY(outcome.isEmpty() || enter.dropAction() == Qt::CopyAction); // never moves the file
        QTEST(outcome.isEmpty() ? "refused" : outcome.join(' '), "expected");
    }

    // The last picker folder and the window's position outlive the window; nothing else is stored.
    void remembersTheLastFolderAndThePosition()
    {
        const QString dir = QString::fromStdString(test_support::freshTempDir("remember"));
        const QString films = dir + "/films";
        const QString other = dir + "/other";
        QVERIFY(QDir().mkpath(films) && QDir().mkpath(other));
        {
            Fixture f;
            f.window.move(40, 30);
            f.picker.answers = {films + "/fm.avi"};
            f.click("fmBrowseButton");
            f.click("exitButton");
        }
        Fixture f;
        QCOMPARE(f.window.pos(), QPoint(40, 30));
        f.at("lmPathEdit")->setText(other + "/lm.avi");
        f.at("finalPathEdit")->setText(dir + "/gone/final.avi");
        for (const char* button : {"loadButton", "fmBrowseButton", "lmBrowseButton", "finalBrowseButton"})
            f.click(button);
        QCOMPARE(f.picker.startFolders, QStringList({films, films, other, films}));
        QCOMPARE(QSettings("KestrelIon", "kestrelion").allKeys(),
                 QStringList({"lastFolder", "windowPosition"}));
    }

    // Created, failed and, further down, aborted: the line says how Create ended until the next command.
    void statusLineTellsHowCreateEnded()
    {
        const QString final = QString::fromStdString(test_support::freshTempDir("status") + "/final.avi");
        Fixture f;
        f.at("fmPathEdit")->setText(QString::fromStdString(test_support::fastMotionAvi(1000)));
        f.at("lmPathEdit")->setText(QString::fromStdString(test_support::lowMotionAvi(1000)));
        f.at("finalPathEdit")->setText(final);
        f.click("createButton");
        const QString size = QString::number(QFileInfo(final).size() / 1048576.0, 'f', 1);
        QVERIFY2(
            QRegularExpression("^Final AVI written: " + QRegularExpression::escape(size) + " MB in 0:\\d\\d$")
                .match(f.at<QLabel>("statusLabel")->text())
                .hasMatch(),
            qPrintable(f.at<QLabel>("statusLabel")->text()));
        f.at("lmPathEdit")->setText(final + ".missing");
        f.click("createButton");
        QCOMPARE(f.at<QLabel>("statusLabel")->text(),
                 QStringLiteral("Create ended: Could not open AVI"));
        QCOMPARE(f.port.messages.size(), size_t(1));
        f.click("analyzeButton");
        QCOMPARE(f.at<QLabel>("statusLabel")->text(), QString());
    }

    void enterAcceptsAndEscapeCancels_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("emptyStopFrames");
        QTest::addColumn<QString>("outcome"); // the window, the path taken in, what else ran
        row("Enter in a path field", "fmPathEdit", int(Qt::Key_Return), false, "accepted typed");
        row("Enter with a field holding no number", "fmPathEdit", int(Qt::Key_Return), true,
            "open typed prompt");
        row("Enter on a button presses it", "lmBrowseButton", int(Qt::Key_Return), false, "open picker");
        row("Escape exchanges nothing", "fmPathEdit", int(Qt::Key_Escape), true, "rejected");
        row("Exit", "exitButton", int(Qt::Key_Space), true, "rejected");
    }
    void enterAcceptsAndEscapeCancels()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(bool, emptyStopFrames);
        Fixture f;
        f.click("stopAfterCheck");
        f.at("stopAfterFramesEdit")->setText(emptyStopFrames ? "" : "9");
        f.at("fmPathEdit")->setText("typed");
        f.at<QWidget>(focus)->setFocus();
        QTest::keyClick(f.at<QWidget>(focus), Qt::Key(key));
        QStringList outcome = {
            !f.window.isVisible() ? f.window.result() == QDialog::Accepted ? "accepted" : "rejected" : "open",
            QString::fromStdString(f.settings().fastMotionPath)};
        if (f.port.prompts == 1 && QApplication::focusWidget() == f.at("stopAfterFramesEdit"))
            outcome << "prompt";
        if (f.picker.calls.size() == 1)
            outcome << "picker";
        QTEST(outcome.join(' ').simplified(), "outcome");
    }

    void escapeDuringCreateLeavesAReadableFinalAvi()
    {
        const std::string dir = test_support::freshTempDir("create_escape");
        Fixture f;
        f.at("fmPathEdit")->setText(QString::fromStdString(test_support::fastMotionAvi(3000)));
        f.at("lmPathEdit")->setText(QString::fromStdString(test_support::lowMotionAvi(3000)));
        f.at("finalPathEdit")->setText(QString::fromStdString(dir + "/final.avi"));
        f.click("statisticFileCheck");
        // Runs inside the progress window's pump: the first pump tries every command of the window,
        // the second presses Escape.
        int pumps = 0;
        bool blocked = false;
        QTimer poller;
        connect(&poller, &QTimer::timeout, this, [&] {
            auto* progress = f.window.findChild<app::ProgressWindow*>();
            if (!f.window.copying() || progress == nullptr || !progress->isVisible())
                return;
            if (++pumps == 1) {
                const core::JobSettings before = f.settings();
                f.click("analyzeButton");
                f.click("createButton");
                for (auto command : {&app::MainWindow::runAnalyze, &app::MainWindow::runCreate,
                                     &app::MainWindow::loadProfile, &app::MainWindow::saveProfile,
                                     &app::MainWindow::pickFinalAvi, &app::MainWindow::acceptSettings})
                    (f.window.*command)();
                f.window.close();
                QTest::keyClick(&f.window, Qt::Key_Escape);
                blocked = f.picker.calls.empty() && f.settings() == before && f.port.messages.empty() &&
                          !f.window.job().state.analysed && f.window.isVisible();
            } else if (pumps == 2) {
                QTest::keyClick(progress->focusWidget() ? progress->focusWidget() : progress, Qt::Key_Escape);
            }
        });
        poller.start(0);
        f.click("createButton");
        QVERIFY(blocked && pumps == 2 && !f.window.copying());
        QVERIFY(f.at<QPushButton>("createButton")->isEnabled() && !f.at("endingPathEdit")->isEnabled());
        QVERIFY(!f.window.findChild<app::ProgressWindow*>() && !QApplication::overrideCursor());
        // The copy stopped between groups and left a Final AVI that another reader accepts.
        const auto packets = test_support::probePackets(dir + "/final.avi");
        QVERIFY(!packets.empty() && packets.size() < 3000 && packets.front().key);
        QCOMPARE(test_support::decodeErrors(dir + "/final.avi"), std::string());
        QVERIFY(!std::filesystem::exists(dir + "/stat.txt"));
        const double megabytes = double(std::filesystem::file_size(dir + "/final.avi")) / 1048576;
        QCOMPARE(f.at<QLabel>("statusLabel")->text(),
                 "Create aborted: the Final AVI holds the 30 groups copied, " +
                     QString::number(megabytes, 'f', 1) + " MB");
    }

    // Renders the four windows for the documentation when KESTRELION_SCREENSHOT_DIR names a folder;
    // scripts/screenshot runs it in a folder holding fast-motion.avi, low-motion.avi and plan-motion.avi.
    void renderScreenshots()
    {
        const QString folder = qEnvironmentVariable("KESTRELION_SCREENSHOT_DIR");
        if (folder.isEmpty())
            QSKIP("renders only for scripts/screenshot");
        Fixture f;
        f.at("fmPathEdit")->setText("fast-motion.avi");
        f.at("lmPathEdit")->setText("low-motion.avi");
        f.at("finalPathEdit")->setText("final.avi");
        f.at("finalSizeEdit")->setText("10"); // a target that suits the short film
        f.click("analyzeButton");
        QVERIFY(f.port.messages.empty() && f.window.job().state.analysed);
        QVERIFY(f.window.grab().save(folder + "/main-window.png"));
        app::ProgressWindow progress(&f.window);
        progress.setRange(0, 120, 1);
        progress.setPosition(45);
        progress.setStatistics({410, 91488256, 1390, 94371840, 91488256 + 94371840});
        app::AboutBox about(&f.window);
        about.show();
        QApplication::processEvents();
        QVERIFY(progress.grab().save(folder + "/progress-window.png") &&
                about.grab().save(folder + "/about-box.png"));
        // The plan view of a film with busy, calm and single calm seconds and an ending.
        f.at("fmPathEdit")->setText("plan-motion.avi");
        f.click("endingCheck");
        f.at("endingPathEdit")->setText("low-motion.avi");
        f.at("framePosEdit")->setText("3000");
        f.at("finalSizeEdit")->setText("35");
        f.at("highBitrateLimitEdit")->setText("1300");
        f.click("analyzeButton");
        f.click("planButton");
        auto* plan = f.window.findChild<app::PlanWindow*>();
        QVERIFY(f.port.messages.empty() && plan != nullptr);
        plan->resize(1000, 420);
        QVERIFY(QTest::qWaitForWindowExposed(plan) && plan->grab().save(folder + "/plan-window.png"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
