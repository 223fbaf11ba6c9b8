#include "app/about_box.h"
#include "app/main_window.h"
#include "app/progress_window.h"
#include "media.h"

#include <QTest>
#include <QtWidgets>

#include <filesystem>

using app::MainWindow;
using app::PickerKind;

Q_DECLARE_METATYPE(PickerKind)

namespace {

// Adds a data row: row("name", the column values...).
template <typename... Values> void row(const char* name, const Values&... values)
{
    (QTest::newRow(name) << ... << values);
}

// Answers the file pickers from a script and records the kind and filters of every call.
struct ScriptedPicker : app::FilePicker {
    std::optional<QString> pickFile(QWidget*, PickerKind kind, const QStringList& filters) override
    {
        calls.push_back({kind, filters});
        const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
        return answer.isNull() ? std::nullopt : std::optional(answer);
    }
    QStringList answers; // a null string, or none left, cancels
    std::vector<std::pair<PickerKind, QStringList>> calls;
};

// Records messages and prompts instead of showing boxes; the wait cursor and the progress window
// are the real ones.
struct RecordingPort : app::QtUiPort {
    void showMessage(const core::Message& message) override { messages.push_back(message.text); }
    bool askYesNo(const core::Question&) override { return false; }
    void promptWholeNumber() override { ++prompts; }
    std::vector<std::string> messages;
    int prompts = 0;
};

// One main window with the doubles above, shown and active, and what a person does to it.
struct Fixture {
    std::unique_ptr<RecordingPort> ownedPort = std::make_unique<RecordingPort>();
    std::unique_ptr<ScriptedPicker> ownedPicker = std::make_unique<ScriptedPicker>();
    RecordingPort& port = *ownedPort;
    ScriptedPicker& picker = *ownedPicker;
    MainWindow window{std::move(ownedPort), std::move(ownedPicker)};

    Fixture()
    {
        window.show();
        (void)QTest::qWaitForWindowActive(&window);
    }
    template <typename Widget = QLineEdit> Widget* at(const QString& name)
    {
        if (auto* widget = window.findChild<Widget*>(name))
            return widget;
        qFatal("no widget %s", qPrintable(name));
    }
    QString text(const QString& name) { return at(name)->text(); }
    core::JobSettings& settings() { return window.job().settings; }
    void click(const QString& name) { QTest::mouseClick(at<QAbstractButton>(name), Qt::LeftButton); }
    void type(const QString& name, const QString& keys, bool overAll = false) // "\b": Backspace
    {
        at(name)->setFocus();
        overAll ? at(name)->selectAll() : at(name)->end(false);
        keys == "\b" ? QTest::keyClick(at(name), Qt::Key_Backspace) : QTest::keyClicks(at(name), keys);
    }
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window outlived its test");
    }

    void opensWithTheDefaultsAndTheAboutBox()
    {
        Fixture f;
        QCOMPARE(f.window.windowTitle(), QStringLiteral("Kestrel - Ion 1.2 - Nov. 2000"));
        QStringList shown;
        for (const char* name :
             {"fmPathEdit", "lmPathEdit", "finalPathEdit", "endingPathEdit", "audioEdit", "finalSizeEdit",
              "highBitrateLimitEdit", "framePosEdit", "stopAfterFramesEdit"})
            shown << f.text(name);
        for (const char* name : {"endingCheck", "stopAfterCheck", "smootherCheck", "statisticFileCheck"})
            shown << (f.at<QCheckBox>(name)->isChecked() ? "ticked" : "-");
        QCOMPARE(shown,
                 QStringList({"", "", "", "", "128", "702", "700", "0", "0", "-", "-", "ticked", "-"}));
        QVERIFY(!f.at("lowRunMaxGroupsEdit")->isVisible() && !f.at("highRunMinGroupsEdit")->isVisible());
        for (QPushButton* button : f.window.findChildren<QPushButton*>())
            QVERIFY2(!button->autoDefault() && !button->isDefault(), qPrintable(button->objectName()));
        QCOMPARE(QApplication::focusWidget(), f.at("fmPathEdit"));
        QVERIFY(f.at<QLabel>("lmBitrateLabel")->text().isEmpty() && !f.window.job().state.analysed);

        // The about box opens from the context menu and closes on Escape.
        auto* about = f.window.findChild<QAction*>("aboutAction");
        QVERIFY(f.window.actions().contains(about) && f.window.contextMenuPolicy() == Qt::ActionsContextMenu);
        QCOMPARE(about->text(), QStringLiteral("Inf&o über KestrelIon..."));
        QTimer::singleShot(0, this, [&] {
            if (auto* box = qobject_cast<app::AboutBox*>(QApplication::activeModalWidget())) {
                shown = {box->windowTitle(), box->findChild<QLabel*>("versionLabel")->text()};
                QTest::keyClick(box, Qt::Key_Escape);
                shown << (box->findChild<QPushButton*>("okButton")->isDefault() && !box->isVisible()
                              ? "closed"
                              : "");
            }
        });
        about->trigger();
        QCOMPARE(shown, QStringList({"Info über KestrelIon", "Kestrel Ion Version 2.0", "closed"}));
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
        QVERIFY(f.settings().endingEnabled == ending && f.settings().stopAfterEnabled == stopAfter);
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
        QVERIFY(f.port.messages.empty() && f.window.job().state.analysed && !QApplication::overrideCursor());
        QCOMPARE(label->text().toStdString(), f.settings().lowMotionBitrateText);
        f.type("finalSizeEdit", "1", true); // 1 MB cannot hold the film
        QCOMPARE(label->text(), QStringLiteral("n/a"));
        f.type("finalSizeEdit", "0000");
        const int large = label->text().toInt();
        f.type("audioEdit", "0"); // more audio leaves less room for the video
        QVERIFY(0 < label->text().toInt() && label->text().toInt() < large);
    }

    void pickers_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<PickerKind>("kind");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("result");
        row("fast motion", "fm", PickerKind::Open, "/films/fm", "/films/fm");
        row("ending", "ending", PickerKind::Open, "/films/end", "/films/end");
        row("cancelled", "fm", PickerKind::Open, QString(), "typed");
        row("final cancelled", "final", PickerKind::Save, QString(), "typed");
        row("final without extension", "final", PickerKind::Save, "/films/film", "/films/film.avi");
        row("final with another one", "final", PickerKind::Save, "/films/film.mpg", "/films/film.mpg");
        row("final ending in a dot", "final", PickerKind::Save, "/films/film.", "/films/film..avi");
        row("final in a dotted folder", "final", PickerKind::Save, "/films.d/film", "/films.d/film.avi");
    }
    void pickers()
    {
        QFETCH(QString, field);
        QFETCH(QString, answer);
        Fixture f;
        f.click("endingCheck");
        f.at("lmPathEdit")->setText("/films/lm.avi");
        f.at(field + "PathEdit")->setText("typed");
        f.picker.answers = {answer};
        f.click(field + "BrowseButton");
        QCOMPARE(f.picker.calls.size(), size_t(1));
        QTEST(f.picker.calls.front().first, "kind");
        QCOMPARE(f.picker.calls.front().second,
                 QStringList({"DivX ;-) AVI-Files (*.avi)", "All Files (*.*)"}));
        QTEST(f.text(field + "PathEdit"), "result");
        // A picked file takes in what was typed in the other fields, a cancel takes in nothing.
        QCOMPARE(f.settings().lowMotionPath, answer.isNull() ? std::string() : "/films/lm.avi");
    }

    void profileRoundTripAndMissingFile()
    {
        const QString dir = QString::fromStdString(test_support::freshTempDir("profile"));
        {
            Fixture f;
            f.at("fmPathEdit")->setText("/films/fm.avi");
            f.click("stopAfterCheck");
            f.type("audioEdit", "96", true);
            f.picker.answers = {dir + "/job", dir + "/job.", dir + "/no/such/folder/job", QString()};
            for (int i = 0; i < 4; ++i)
                f.click("saveButton");
            QCOMPARE(f.picker.calls.back().second,
                     QStringList({"KestrelIon Profile-Files (*.ini)", "All Files (*.*)"}));
            QCOMPARE(f.port.messages, std::vector<std::string>({"An error occured during save!!!"}));
        }
        QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList({"job..ini", "job.ini"}));
        Fixture f;
        f.window.job().state.analysed = true;
        f.click("endingCheck");
        f.at("endingPathEdit")->setText("/films/ending.avi");
        f.picker.answers = {dir + "/job.ini", dir + "/missing.ini"};
        f.click("loadButton");
        QCOMPARE(f.picker.calls.back().first, PickerKind::OpenExisting);
        QCOMPARE(f.text("fmPathEdit") + " " + f.text("audioEdit") + " " + f.text("finalSizeEdit"),
                 QStringLiteral("/films/fm.avi 96 702"));
        QVERIFY(f.at<QCheckBox>("stopAfterCheck")->isChecked() && f.at("stopAfterFramesEdit")->isEnabled());
        QVERIFY(!f.window.job().state.analysed);
        // A missing file loads as an empty profile; the ending's fields are not part of a profile.
        f.click("loadButton");
        QCOMPARE(f.text("fmPathEdit") + " " + f.text("audioEdit") + " " + f.text("endingPathEdit"),
                 QStringLiteral(" 0 /films/ending.avi"));
        QVERIFY(!f.at<QCheckBox>("stopAfterCheck")->isChecked() &&
                !f.at<QCheckBox>("smootherCheck")->isChecked());
        QVERIFY(!f.at("endingPathEdit")->isEnabled() && f.at<QCheckBox>("stopAfterCheck")->isEnabled());
        QVERIFY(!QFile::exists(dir + "/missing.ini") && f.port.messages.empty() && f.port.prompts == 0);
    }

    void enterAcceptsAndEscapeCancels_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("emptyStopFrames");
        QTest::addColumn<int>("result"); // -1: the window stays open
        row("Enter in a path field", "fmPathEdit", int(Qt::Key_Return), false, int(QDialog::Accepted));
        row("Enter on a check box", "smootherCheck", int(Qt::Key_Return), false, int(QDialog::Accepted));
        row("Enter with a field holding no number", "fmPathEdit", int(Qt::Key_Return), true, -1);
        row("Enter on a button presses it", "lmBrowseButton", int(Qt::Key_Return), false, -1);
        row("Escape exchanges nothing", "fmPathEdit", int(Qt::Key_Escape), true, int(QDialog::Rejected));
        row("Exit", "exitButton", int(Qt::Key_Space), true, int(QDialog::Rejected));
    }
    void enterAcceptsAndEscapeCancels()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(bool, emptyStopFrames);
        QFETCH(int, result);
        Fixture f;
        f.click("stopAfterCheck");
        f.at("stopAfterFramesEdit")->setText(emptyStopFrames ? "" : "9");
        f.at("fmPathEdit")->setText("typed");
        f.at<QWidget>(focus)->setFocus();
        QTest::keyClick(f.at<QWidget>(focus), Qt::Key(key));
        QCOMPARE(f.window.isVisible() ? -1 : f.window.result(), result);
        QCOMPARE(f.picker.calls.size(), size_t(focus == "lmBrowseButton"));
        // An exchange that stops at the field holding no number has taken in the path before it.
        const bool prompted = result == -1 && emptyStopFrames;
        QCOMPARE(f.settings().fastMotionPath,
                 result == QDialog::Accepted || prompted ? "typed" : std::string());
        QCOMPARE(f.port.prompts, int(prompted));
        if (prompted)
            QCOMPARE(QApplication::focusWidget(), f.at("stopAfterFramesEdit"));
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
        bool progressActive = false;
        QTimer poller;
        connect(&poller, &QTimer::timeout, this, [&] {
            auto* progress = f.window.findChild<app::ProgressWindow*>();
            if (!f.window.copying() || progress == nullptr || !progress->isVisible())
                return;
            if (++pumps == 1) {
                const core::JobSettings before = f.settings();
                for (const char* name :
                     {"analyzeButton", "createButton", "loadButton", "saveButton", "fmBrowseButton"})
                    f.click(name);
                for (auto command :
                     {&MainWindow::runAnalyze, &MainWindow::runCreate, &MainWindow::loadProfile,
                      &MainWindow::saveProfile, &MainWindow::pickFinalAvi, &MainWindow::acceptSettings})
                    (f.window.*command)();
                f.window.close();
                QTest::keyClick(&f.window, Qt::Key_Escape);
                blocked = f.picker.calls.empty() && f.settings() == before && f.port.messages.empty() &&
                          !f.window.job().state.analysed && f.window.isVisible();
            } else if (pumps == 2) {
                progressActive = QApplication::activeWindow() == progress;
                QTest::keyClick(progress->focusWidget() ? progress->focusWidget() : progress, Qt::Key_Escape);
            }
        });
        poller.start(0);
        f.click("createButton");
        poller.stop();
        QVERIFY(blocked && progressActive && pumps == 2);
        QVERIFY(!f.window.copying() && !f.window.findChild<app::ProgressWindow*>() &&
                !QApplication::overrideCursor());
        QVERIFY(f.at<QPushButton>("createButton")->isEnabled() && !f.at("endingPathEdit")->isEnabled());
        // The copy stopped between groups and left a Final AVI that another reader accepts.
        const auto packets = test_support::probePackets(dir + "/final.avi");
        QVERIFY(!packets.empty() && packets.size() < 3000 && packets.front().key);
        QCOMPARE(test_support::decodeErrors(dir + "/final.avi"), std::string());
        QVERIFY(!std::filesystem::exists(dir + "/stat.txt"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
