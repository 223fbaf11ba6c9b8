#include "app/about_box.h"
#include "app/create_status.h"
#include "app/encode_window.h"
#include "app/main_window.h"
#include "app/make_window.h"
#include "app/plan_chart.h"
#include "app/plan_window.h"
#include "app/progress_window.h"
#include "media.h"

#include <QTest>
#include <QtWidgets>

#include <fstream>
#include <vector>

// Adds a data row: row("name", the column values...).
template <typename... Values> void row(const char* name, const Values&... values)
{
    (QTest::newRow(name) << ... << values);
}

// Answers the file pickers from a script and records every call as "kind filters start-folder".
struct ScriptedPicker : app::FilePicker {
    std::optional<QString> pickFile(QWidget*, app::PickerKind kind, const QStringList& filters,
                                    const QString& startFolder) override
    {
        const QString kinds[] = {"Open", "OpenExisting", "Save"}, types[] = {" ? ", " avi ", " ini "};
        const int type = (filters == app::aviFilters()) + 2 * (filters == app::profileFilters());
        calls << kinds[int(kind)] + types[type] + startFolder;
        const QString answer = answers.value(calls.size() - 1);
        return answer.isNull() ? std::nullopt : std::optional(answer);
    }
    QStringList answers; // one a call; a null string, or none left, cancels
    QStringList calls;
};

// Records messages and prompts instead of showing boxes; the wait cursor and the progress window
// are the real ones.
struct RecordingPort : app::QtUiPort {
    void presentMessage(const core::Message& message) override { messages.push_back(message.text); }
    bool askYesNo(const core::Question& question) override
    {
        questions.push_back(question.text);
        return yes;
    }
    void promptWholeNumber() override { ++prompts; }
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    bool yes = false; // the answer to every question
    int prompts = 0;
};

// One main window with the doubles above, shown and active, and what a person does to it.
struct Fixture {
    std::unique_ptr<RecordingPort> ownedPort = std::make_unique<RecordingPort>();
    std::unique_ptr<ScriptedPicker> ownedPicker = std::make_unique<ScriptedPicker>();
    RecordingPort& port = *ownedPort;
    ScriptedPicker& picker = *ownedPicker;
    app::MainWindow window{std::move(ownedPort), std::move(ownedPicker)};

    bool shown = (window.show(), QTest::qWaitForWindowActive(&window));
    template <typename T = QLineEdit> T* at(const QString& name) { return window.findChild<T*>(name); }
    QString text(const QString& name) { return at(name)->text(); }
    void fill(std::initializer_list<std::string> namesAndValues) // a field's name, its text, the next...
    {
        for (auto it = namesAndValues.begin(); it != namesAndValues.end(); it += 2)
            at(QString::fromStdString(it[0]))->setText(QString::fromStdString(it[1]));
    }
    void click(const QString& name) { QTest::mouseClick(at<QAbstractButton>(name), Qt::LeftButton); }
    void type(const QString& name, const QString& keys, bool overAll = false) // "\b": Backspace
    {
        at(name)->setFocus();
        overAll ? at(name)->selectAll() : at(name)->end(false);
        keys == "\b" ? QTest::keyClick(at(name), Qt::Key_Backspace) : QTest::keyClicks(at(name), keys);
    }
};

// The main window: the exchange between its controls and the job, its rules, layout, pickers, drops
// and profiles, and what it refuses while Create copies; the plan view, the progress window and the
// about box it opens. The engine's tests prove what commands compute.
class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    // Keeps what the window remembers in a folder of this test run's own.
    void initTestCase()
    {
        const QString folder = QString::fromStdString(test_support::freshTempDir("settings"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); // groups digits with ','
    }
    void cleanup() // fails when a window outlived the test
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window outlived its test");
    }

    // The window opens with the focus in the first field; Tab follows the form's order and skips the
    // disabled ending controls. With the desktop font no control is clipped by its parent or overlaps
    // a sibling, every caption fits its control and no button is a default one.
    void laysOutWithoutClippingInTabOrder()
    {
        Fixture f;
        for (const char* next : {"fmPathEdit", "fmBrowseButton", "endingCheck", "stopAfterCheck", "audioEdit",
                                 "finalSizeEdit"}) {
            QCOMPARE(QApplication::focusWidget()->objectName(), next);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
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

    // The ending's controls follow its box; the Stop-after box is enabled exactly when the ending is
    // off and keeps its tick meanwhile; the stop frame count follows both. (At the opening the Tab
    // order above shows them disabled.)
    void enableRulesFollowTheTwoBoxes()
    {
        Fixture f;
        QStringList seen; // after each click, 1 for each of the five controls below that is enabled
        for (const char* box : {"stopAfterCheck", "endingCheck", "endingCheck"}) {
            f.click(box);
            QString enabled;
            for (const char* name : {"endingPathEdit", "endingBrowseButton", "framePosEdit", "stopAfterCheck",
                                     "stopAfterFramesEdit"})
                enabled += f.at<QWidget>(name)->isEnabled() ? '1' : '0';
            seen << enabled;
        }
        QCOMPARE(seen, QStringList({"00011", "11100", "00011"}));
    }

    // A number field takes digits only. A field left without a number stops the exchange at it, brings
    // the prompt, takes the focus and shows the job's value again: the fields before it are taken in,
    // it and the later ones are not. Enter presses the focused button and does nothing in a field.
    void numbersPromptAndEnterPressesButtonsOnly()
    {
        Fixture f;
        f.type("audioEdit", "4");
        f.type("finalSizeEdit", "a-.");
        QCOMPARE(f.text("audioEdit") + " " + f.text("finalSizeEdit"), QStringLiteral("1284 702"));
        f.type("highBitrateLimitEdit", "\b", true);
        QVERIFY(f.port.prompts == 1 && QApplication::focusWidget() == f.at("highBitrateLimitEdit"));
        f.click("endingCheck");
        f.type("framePosEdit", "\b", true); // a field without a handler: no prompt yet
        f.type("audioEdit", "\b");
        QVERIFY(f.port.prompts == 2 && QApplication::focusWidget() == f.at("framePosEdit"));
        QCOMPARE(f.text("audioEdit") + " " + f.text("framePosEdit"), QStringLiteral("1284 0"));
        f.picker.answers = {"/films/fm"}; // an opened AVI's name gets no extension added
        f.at<QWidget>("fmBrowseButton")->setFocus();
        QTest::keyClick(f.at<QWidget>("fmBrowseButton"), Qt::Key_Return);
        f.fill({"fmPathEdit", "other", "framePosEdit", ""});
        f.at("fmPathEdit")->setFocus();
        QTest::keyClick(f.at("fmPathEdit"), Qt::Key_Return);
        QTest::keyClick(f.at("fmPathEdit"), Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(f.window.isVisible() && f.port.prompts == 2 && f.port.questions.empty() &&
                f.window.job().settings.fastMotionPath == "/films/fm");
    }

    void closing_data()
    {
        // before: what is done to the window ("type" a figure into Audio, "save", "load" a profile,
        // "open" an AVI or profile as the desktop gives it); close: "escape", "exit" or "box"; yes:
        // the answer; expected: "asked" or not, then "closed" or "open".
        for (const char* column : {"before", "close"})
            QTest::addColumn<QString>(column);
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("expected");
        row("as opened", "", "escape", false, "closed");
        row("typed, No", "type", "escape", false, "asked open");
        row("typed, Exit, Yes", "type", "exit", true, "asked closed");
        row("typed, close box, No", "type", "box", false, "asked open");
        row("typed, saved", "type save", "box", false, "closed");
        row("loaded", "load", "exit", false, "closed");
        row("loaded, typed", "load type", "exit", false, "asked open");
        row("AVI given", "open film.AVI", "escape", false, "closed");
        row("profile given", "open job.ini", "escape", false, "closed");
    }
    // Escape, Exit and the close box close the window, but ask first when a setting differs from
    // what the window showed after opening, the last Load or the last Save; No keeps the window. A
    // file given as the desktop gives it opens with the window: an AVI fills the Fast Motion field.
    void closing()
    {
        QFETCH(QString, before);
        QFETCH(QString, close);
        QFETCH(bool, yes);
        const QString dir = QString::fromStdString(test_support::freshTempDir("closing"));
        std::ofstream((dir + "/job.ini").toStdString()) << "[KestrelIon]\nAudio=96\n";
        Fixture f;
        f.port.yes = yes;
        f.picker.answers = {dir + "/job.ini"};
        for (const QString& step : before.split(' ', Qt::SkipEmptyParts)) {
            if (step == "type")
                f.type("audioEdit", "0");
            else if (step == "save" || step == "load")
                f.click(step + "Button");
            else if (step != "open")
                QVERIFY(f.window.openGivenFile(dir + "/" + step));
        }
        if (close == "escape")
            QTest::keyClick(f.at("audioEdit"), Qt::Key_Escape);
        else
            close == "exit" ? f.click("exitButton") : (void)f.window.close();
        QTEST(QString(f.port.questions.empty() ? "" : "asked ") + (f.window.isVisible() ? "open" : "closed"),
              "expected");
        QVERIFY(f.port.questions.empty() ||
                f.port.questions.front() == core::messages::quitWithoutSaving().text);
        const QStringList given = {dir + "/film.AVI", "96"}; // the Fast Motion field, Audio after Load
        QVERIFY(!before.contains("open") ||
                given.contains(f.text(before.contains("AVI") ? "fmPathEdit" : "audioEdit")));
        QVERIFY(!f.window.openGivenFile(dir + "/missing.ini"));
    }

    // A window is moved, and made smaller where it can be, into the screen that shows most of it, or
    // the first one: a remembered position off every screen brings the main window back.
    void windowsStayOnTheScreen()
    {
        const QList<QRect> two = {QRect(0, 0, 800, 600), QRect(800, 0, 1000, 700)};
        const std::tuple<QRect, QList<QRect>, QRect> cases[] = {
            {{10, 20, 300, 200}, two, {10, 20, 300, 200}},     // inside
            {{700, 550, 300, 200}, two, {800, 500, 300, 200}}, // mostly on the second: into it
            {{-900, 50, 300, 200}, two, {0, 50, 300, 200}},    // off both: into the first
            {{600, -50, 1200, 900}, two, {800, 0, 1000, 700}}, // too large: as large as the screen
            {{5, 5, 10, 10}, {}, {5, 5, 10, 10}}};             // no screen
        for (const auto& [frame, areas, fitted] : cases)
            QCOMPARE(app::fitIntoAreas(frame, areas), fitted);
        QSettings("KestrelIon", "kestrelion").setValue("windowPosition", QPoint(-5000, 90000));
        Fixture f;
        QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(f.window.frameGeometry()));
    }

    // A picker starts in the folder of its field's path, else in the last folder picked from, which
    // outlives the window as its position does; nothing else is stored. A cancelled picker changes
    // nothing; the name of a Final AVI or profile without an extension gets ".avi" or ".ini".
    void pickersStartInTheirFoldersAndCompleteNames()
    {
        const QString dir = QString::fromStdString(test_support::freshTempDir("pickers"));
        const QString films = dir + "/films";
        QVERIFY(QDir().mkpath(films) && QDir().mkpath(dir + "/other"));
        {
            Fixture f;
            f.window.move(40, 30);
            f.picker.answers = {films + "/fm"};
            f.click("fmBrowseButton");
            f.port.yes = true; // quit without saving the new path
            f.click("exitButton");
        }
        Fixture f;
        QCOMPARE(f.window.pos(), QPoint(40, 30));
        f.at("lmPathEdit")->setText(dir + "/other/lm.avi");
        f.at("finalPathEdit")->setText(dir + "/gone/final.avi");
        f.picker.answers = {QString(), films + "/job", QString()};
        for (const char* button : {"loadButton", "saveButton", "lmBrowseButton"})
            f.click(button);
        QStringList finals;
        for (const char* answer : {"/film", "/film.mpg", "/film.", ".d/film"}) {
            f.picker.answers << films + answer;
            f.click("finalBrowseButton");
            finals << f.text("finalPathEdit");
        }
        QCOMPARE(finals, QStringList({films + "/film.avi", films + "/film.mpg", films + "/film..avi",
                                      films + ".d/film.avi"}));
        QVERIFY(f.text("lmPathEdit") == dir + "/other/lm.avi" && QFileInfo::exists(films + "/job.ini"));
        QCOMPARE(f.picker.calls, QStringList({"OpenExisting ini " + films, "Save ini " + films,
                                              "Open avi " + dir + "/other"}) +
                                     QStringList(4, "Save avi " + films));
        QCOMPARE(QSettings("KestrelIon", "kestrelion").allKeys(),
                 QStringList({"lastFolder", "windowPosition"}));
    }

    void drops_data()
    {
        // target: a control's name, or "" for an empty spot of the window; setup: boxes ticked and path
        // fields holding a path before the drop; expected: the field that takes the file, "load" or
        // "refused".
        for (const char* column : {"target", "file", "setup", "expected"})
            QTest::addColumn<QString>(column);
        row("AVI on a filled field", "lmPathEdit", "a.avi", "lmPathEdit", "lmPathEdit");
        row("any case", "finalPathEdit", "A.AvI", "", "finalPathEdit");
        row("ending on", "endingPathEdit", "e.avi", "endingCheck", "endingPathEdit");
        row("ending off", "endingPathEdit", "e.avi", "", "refused");
        row("window fills Fast Motion", "", "a.avi", "lmPathEdit", "fmPathEdit");
        row("then Low Motion", "audioLabel", "a.avi", "endingCheck fmPathEdit", "lmPathEdit");
        row("nowhere to go", "analyzeButton", "a.avi", "fmPathEdit lmPathEdit", "refused");
        row("profile on a field", "fmPathEdit", "job.ini", "fmPathEdit", "load");
        row("profile on the window", "", "JOB.INI", "", "load");
        row("other file", "fmPathEdit", "film.mkv", "", "refused");
    }
    void drops()
    {
        QFETCH(QString, target);
        QFETCH(QString, file);
        QFETCH(QString, setup);
        const QString path = QString::fromStdString(test_support::freshTempDir("drop") + "/") + file;
        std::ofstream(path.toStdString()) << "[KestrelIon]\nAudio=96\nEndingAvi=1\n";
        Fixture f;
        f.window.job().state.analysed = true;
        for (const QString& name : setup.split(' ', Qt::SkipEmptyParts))
            f.at<QCheckBox>(name) ? f.click(name) : f.at(name)->setText("/films/" + name);
        QWidget* over = target.isEmpty() ? nullptr : f.at<QWidget>(target);
        const QPoint at = over ? over->mapTo(&f.window, over->rect().center()) : QPoint(1, 1);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f.window, &enter);
        QApplication::sendEvent(&f.window, &drop); // the application sends it only after an accepted enter
        QStringList outcome;
        for (const char* name : {"fmPathEdit", "endingPathEdit", "lmPathEdit", "finalPathEdit"})
            if (f.text(name) == path)
                outcome << name;
        // A profile loads as Load does: its values, the enable rules for them, and a job to analyse again.
        if (f.text("audioEdit") == "96" && f.at("endingPathEdit")->isEnabled() &&
            !f.window.job().state.analysed)
            outcome << "load";
        QCOMPARE(enter.isAccepted() && drop.isAccepted(), !outcome.isEmpty());
        QVERIFY(outcome.isEmpty() || enter.dropAction() == Qt::CopyAction); // never moves the file
        QTEST(outcome.isEmpty() ? "refused" : outcome.join(' '), "expected");
    }

    // A sound file takes the audio field's place with its own Kbps, greyed, and says its codec; a
    // refused codec says why; clearing the file gives the typed reserve back. The picker sets it too.
    void soundFileReplacesTheAudioReserve()
    {
        const std::string dir = test_support::freshTempDir("window_sound");
        int exitCode = 0;
        for (const char* sound : {"s.mp3", "s.m4a"})
            test_support::runCommand(
                "ffmpeg -nostdin -v error -f lavfi -i sine -t 1 -b:a 64k " + dir + "/" + sound, exitCode);
        Fixture f;
        f.fill({"audioEdit", "96"});
        f.type("audioFilePathEdit", QString::fromStdString(dir + "/s.mp3"));
        QVERIFY(!f.at("audioEdit")->isEnabled() && f.text("audioEdit").toInt() >= 64);
        QVERIFY(f.at<QLabel>("audioFileInfoLabel")->text().startsWith("mp3, "));
        f.at("audioFilePathEdit")->setText(QString::fromStdString(dir + "/s.m4a"));
        QCOMPARE(f.at<QLabel>("audioFileInfoLabel")->text(),
                 "An AVI does not carry aac sound well; convert it to MP3, MP2, AC-3, DTS or PCM first.");
        QCOMPARE(f.text("audioEdit"), "96");
        QVERIFY(f.at("audioEdit")->isEnabled());
        f.picker.answers = {QString::fromStdString(dir + "/s.mp3")};
        f.click("audioFileBrowseButton");
        QCOMPARE(f.text("audioFilePathEdit").toStdString(), dir + "/s.mp3");
        QVERIFY(!f.at("audioEdit")->isEnabled());
        f.at("audioFilePathEdit")->clear();
        QVERIFY(f.at("audioEdit")->isEnabled() && f.text("audioEdit") == "96" &&
                f.at<QLabel>("audioFileInfoLabel")->text().isEmpty());
    }

    // While Create copies, the progress window's pump runs the window's events: every command is
    // refused then, and Escape aborts the copy between groups. The status line says how each Create
    // ended until the next command.
    void escapeDuringCreateLeavesAReadableFinalAvi()
    {
        const std::string dir = test_support::freshTempDir("create_escape");
        QCOMPARE(app::createStatusText({app::CreateEnd::Written, 1572864, 0, 61500, {}}),
                 QStringLiteral("Final AVI written: 1.5 MB in 1:02"));
        Fixture f;
        QLabel* status = f.at<QLabel>("statusLabel");
        f.fill({"fmPathEdit", test_support::fastMotionAvi(3000), "lmPathEdit",
                test_support::lowMotionAvi(3000), "finalPathEdit", dir + "/final.avi"});
        // The first pump tries every command of the window, the second presses Escape.
        int pumps = 0;
        bool blocked = false;
        QTimer poller;
        connect(&poller, &QTimer::timeout, this, [&] {
            auto* progress = f.window.findChild<app::ProgressWindow*>();
            if (!f.window.copying() || progress == nullptr || !progress->isVisible())
                return;
            if (++pumps == 1) {
                const core::JobSettings before = f.window.job().settings;
                for (auto command : {&app::MainWindow::runAnalyze, &app::MainWindow::runCreate,
                                     &app::MainWindow::loadProfile, &app::MainWindow::saveProfile,
                                     &app::MainWindow::pickFinalAvi})
                    (f.window.*command)();
                f.window.close();
                QTest::keyClick(&f.window, Qt::Key_Escape);
                blocked = f.picker.calls.empty() && f.window.job().settings == before &&
                          f.port.messages.empty() && !f.window.job().state.analysed && f.window.isVisible() &&
                          !f.at<QWidget>("analyzeButton")->isEnabled();
            } else if (pumps == 2) {
                QTest::keyClick(progress->focusWidget() ? progress->focusWidget() : progress, Qt::Key_Escape);
            }
        });
        poller.start(0);
        f.click("createButton");
        QVERIFY(blocked && pumps == 2 && !f.window.copying());
        QVERIFY(f.at<QPushButton>("createButton")->isEnabled() && !f.at("endingPathEdit")->isEnabled());
        QVERIFY(!f.window.findChild<app::ProgressWindow*>() && !QApplication::overrideCursor());
        // The copy stopped between groups and left a Final AVI that another reader accepts and whose
        // frames are those of the plan.
        QCOMPARE(test_support::decodeErrors(dir + "/final.avi"), std::string());
        f.window.findChild<QAction*>("verifyAction")->trigger();
        QCOMPARE(f.port.messages,
                 std::vector<std::string>({"Final AVI cut short: it holds 750 of 3,000 planned frames"}));
        const double megabytes = QFileInfo(QString::fromStdString(dir + "/final.avi")).size() / 1048576.0;
        QCOMPARE(status->text(), "Create aborted: the Final AVI holds the 30 groups copied, " +
                                     QString::number(megabytes, 'f', 1) + " MB");
        f.fill({"lmPathEdit", dir + "/missing.avi"});
        f.click("createButton");
        QCOMPARE(status->text(), QStringLiteral("Create ended: Could not open AVI"));
        f.click("analyzeButton");
        QCOMPARE(status->text(), QString());
    }

    // The progress window of Create: its title and bar stay within the range, also for an upper bound
    // equal to or below the lower one and for one near the largest int.
    void progressTitleAndBar()
    {
        QStringList seen; // the title, then the bar's position as setPosition returns the previous one
        for (auto [upper, position] :
             std::vector<std::pair<int, int>>{{120, 0}, {0, 5}, {-5, 7}, {2000000000, 1999999999}}) {
            app::ProgressWindow window;
            window.setRange(0, upper, 1);
            window.setPosition(position);
            seen << window.windowTitle() << QString::number(window.setPosition(1)); // in this order
        }
        QCOMPARE(seen.join(' '), "Progress [0%] 0 Progress [0%] 0 Progress [0%] 0 Progress [99%] 1999999999");
    }

    // Each figure in its label, the widest one whole; shown by the first position, the progress window
    // ignores Escape outside the pump, and Abort cancels and hides it.
    void progressStatisticsAndAbort()
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

    // The about box opens from the main window's context-menu action, shows its captions whole and
    // closes on OK.
    void aboutBoxOpensFromTheContextMenu()
    {
        Fixture f;
        QStringList seen;
        QTimer::singleShot(0, this, [&] {
            if (auto* box = qobject_cast<app::AboutBox*>(QApplication::activeModalWidget())) {
                for (QLabel* label : box->findChildren<QLabel*>())
                    if (label->fontMetrics().horizontalAdvance(label->text()) > label->width())
                        seen << label->objectName() + " is clipped";
                seen << box->windowTitle();
                QTest::mouseClick(box->findChild<QPushButton*>("okButton"), Qt::LeftButton);
            }
        });
        f.window.actions().front()->trigger();
        QCOMPARE(seen, QStringList({"Info über KestrelIon"}));
        QVERIFY(f.window.isVisible() && !QApplication::activeModalWidget());
    }

    // The plan view, opened from the main window after an Analyze:
    // A limit dragged in the view reaches the main window, which replans; typed limits reach the view,
    // and so do Fit's and, once the Low Motion AVI is known, the exact size of the Final AVI.
    // A picture has the size asked; an SVG has the view's size and takes the extension its name lacks,
    // and one that cannot be written brings a message. The view opens within the screen; Escape
    // closes it.
    void planViewKeepsInStepAndExports()
    {
        const QString dir = QString::fromStdString(test_support::freshTempDir("plan_export"));
        Fixture f;
        QVERIFY(!f.at<QPushButton>("planButton")->isEnabled());
        f.fill({"fmPathEdit", test_support::fastMotionAvi()});
        f.click("analyzeButton");
        f.click("planButton");
        QPointer<app::PlanWindow> plan = f.window.findChild<app::PlanWindow*>();
        QVERIFY(plan && QTest::qWaitForWindowExposed(plan)); // wider than the screen without the fit
        QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(plan->frameGeometry()));
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
        f.fill({"lmPathEdit", test_support::lowMotionAvi()});
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
        QVERIFY(text.contains(
            QStringLiteral("viewBox=\"0 0 %1 %2\"").arg(chart.width()).arg(chart.height()).toUtf8()));
        QVERIFY(text.count("<rect") > 40 && text.contains("<text")); // a bar for each of the 40 seconds
        QCOMPARE(f.port.messages, std::vector<std::string>({"The picture could not be saved:\r" +
                                                            dir.toStdString() + "/no/such/folder/plan.svg"}));
        QTest::keyClick(plan, Qt::Key_Escape);
        QVERIFY((!plan || !plan->isVisible()) && f.window.isVisible());
    }

    // Encode... offers the Fast Motion AVI as the source and the shown estimate as the bitrate; OK with
    // no Low Motion path asks for one, and after the encode the Low Motion path names it and the
    // exact size counts with it.
    void encodeSetsTheLowMotionPath()
    {
        const QString dir = QString::fromStdString(test_support::freshTempDir("encode_window"));
        const QString fm = QString::fromStdString(test_support::mediaFile({.frames = 75, .width = 160, .height = 120}));
        Fixture f;
        f.fill({"fmPathEdit", fm.toStdString(), "finalSizeEdit", "1", "audioEdit", "0"});
        f.click("analyzeButton");
        QStringList seen;
        QTimer::singleShot(0, this, [&] {
            if (auto* window = qobject_cast<app::EncodeWindow*>(QApplication::activeModalWidget())) {
                seen << window->findChild<QLineEdit*>("sourcePathEdit")->text()
                     << window->findChild<QLineEdit*>("kbpsEdit")->text();
                window->findChild<QLineEdit*>("kbpsEdit")->setText("150");
                window->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
            }
        });
        f.picker.answers = {dir + "/lm.avi"};
        f.click("lmEncodeButton");
        const QString estimate = f.at<QLabel>("lmBitrateLabel")->text();
        QCOMPARE(seen, QStringList({fm, estimate.toInt() > 0 ? estimate : QString()}));
        QCOMPARE(f.picker.calls, QStringList({"Save avi " + QFileInfo(fm).path()}));
        QVERIFY2(f.port.messages.empty(), f.port.messages.empty() ? "" : f.port.messages.front().c_str());
        QCOMPARE(f.text("lmPathEdit"), dir + "/lm.avi");
        QVERIFY(QFileInfo::exists(dir + "/lm.avi") && f.at<QPushButton>("fitButton")->isEnabled());
    }

    // Make... fills its window from the job and, after the one progress window, leaves the result in
    // the main window: the Final AVI and its size, and in classic mode the Fast and Low Motion AVIs,
    // analysed, with the fitted limit; the status line tells the size and the PSNR.
    void makeLeavesTheResultInTheMainWindow_data()
    {
        QTest::addColumn<int>("mode");
        row("quality", 0);
        row("classic", 1);
    }
    void makeLeavesTheResultInTheMainWindow()
    {
        QFETCH(int, mode);
        const QString dir = QString::fromStdString(test_support::freshTempDir("make_window"));
        int exitCode = 0;
        test_support::runCommand("ffmpeg -nostdin -v error -f lavfi -i testsrc=size=96x64:rate=25:duration=12 -f lavfi "
                                 "-i sine=duration=12 -c:v mpeg4 -q:v 2 -c:a libmp3lame " + dir.toStdString() + "/film.mkv",
                                 exitCode);
        Fixture f;
        f.fill({"finalSizeEdit", "4"}); // a target of 3 MB
        QStringList seen;
        int percent = -1;
        QTimer::singleShot(0, this, [&] {
            auto* window = qobject_cast<app::MakeWindow*>(QApplication::activeModalWidget());
            QVERIFY(window);
            seen << window->findChild<QLineEdit*>("sizeEdit")->text() << window->findChild<QLineEdit*>("audioKbpsEdit")->text();
            window->findChild<QLineEdit*>("sourcePathEdit")->setText(dir + "/film.mkv");
            window->findChild<QLineEdit*>("audioKbpsEdit")->setText("64");
            window->findChild<QComboBox*>("modeCombo")->setCurrentIndex(mode);
            window->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        QTimer watch; // the progress window's percentage as the job goes on
        connect(&watch, &QTimer::timeout, this, [&] {
            if (auto* progress = f.window.findChild<app::MakeProgressWindow*>())
                percent = std::max(percent, progress->percent());
        });
        watch.start(20);
        f.picker.answers = {dir + "/final.avi"};
        f.window.findChild<QAction*>("makeAction")->trigger();
        QVERIFY2(f.port.messages.empty(), f.port.messages.empty() ? "" : f.port.messages.front().c_str());
        QCOMPARE(seen, QStringList({"4", "128"}));
        QCOMPARE(f.picker.calls, QStringList({"Save avi " + dir}));
        QCOMPARE(f.text("finalPathEdit"), dir + "/final.avi");
        QVERIFY(QFileInfo(dir + "/final.avi").size() > 0 && percent > 0);
        QVERIFY2(f.at<QLabel>("statusLabel")->text().startsWith("Final AVI written: "),
                 qPrintable(f.at<QLabel>("statusLabel")->text()));
        if (mode == 0) { // the plan view shows each group's level as its band
            f.click("planButton");
            auto* plan = f.window.findChild<app::PlanWindow*>();
            QVERIFY(plan && !plan->chart().model().sourceNames().empty() && !plan->chart().model().bands().empty());
        }
        if (mode == 1) {
            QVERIFY(QFileInfo::exists(f.text("fmPathEdit")) && QFileInfo::exists(f.text("lmPathEdit")));
            bool isNumber = false; // the fitted limit; 0 when every group fits at the Fast Motion AVI's size
            f.text("highBitrateLimitEdit").toInt(&isNumber);
            QVERIFY(f.at<QPushButton>("fitButton")->isEnabled() && isNumber);
        }
    }

    // Renders the four windows for the documentation when KESTRELION_SCREENSHOT_DIR names a folder;
    // scripts/screenshot runs it in a folder holding fast-motion.avi, low-motion.avi and plan-motion.avi.
    void renderScreenshots()
    {
        const QString folder = qEnvironmentVariable("KESTRELION_SCREENSHOT_DIR");
        if (folder.isEmpty())
            QSKIP("renders only for scripts/screenshot");
        Fixture f;
        f.fill({"fmPathEdit", "fast-motion.avi", "lmPathEdit", "low-motion.avi", "finalPathEdit", "final.avi",
                "finalSizeEdit", "10"}); // a target that suits the short film
        f.click("analyzeButton");
        QVERIFY(f.port.messages.empty() && f.window.grab().save(folder + "/main-window.png"));
        app::ProgressWindow progress(&f.window);
        progress.setRange(0, 120, 1);
        progress.setPosition(45);
        progress.setStatistics({410, 91488256, 1390, 94371840, 91488256 + 94371840});
        app::AboutBox about(&f.window);
        QVERIFY(progress.grab().save(folder + "/progress-window.png") &&
                about.grab().save(folder + "/about-box.png"));
        // The plan view of a film with busy, calm and single calm seconds and an ending.
        f.click("endingCheck");
        f.fill({"fmPathEdit", "plan-motion.avi", "endingPathEdit", "low-motion.avi", "framePosEdit", "3000",
                "finalSizeEdit", "35", "highBitrateLimitEdit", "1300"});
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
