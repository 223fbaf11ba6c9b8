#include "app/main_window.h"
#include "app/progress_window.h"
#include "gui_test_doubles.h"
#include "media.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>

using app::MainWindow;
using app::PickerKind;
using app_test::RecordingQtUiPort;
using app_test::ScriptedFilePicker;

namespace {

// One main window with its test doubles, shown and active.
struct Fixture {
    RecordingQtUiPort* port = nullptr;
    ScriptedFilePicker* picker = nullptr;
    std::unique_ptr<MainWindow> window;

    Fixture()
    {
        auto recordingPort = std::make_unique<RecordingQtUiPort>();
        auto scriptedPicker = std::make_unique<ScriptedFilePicker>();
        port = recordingPort.get();
        picker = scriptedPicker.get();
        window = std::make_unique<MainWindow>(std::move(recordingPort), std::move(scriptedPicker));
        window->show();
        (void)QTest::qWaitForWindowActive(window.get());
    }

    template <typename Widget> Widget* find(const QString& name) const
    {
        auto* widget = window->findChild<Widget*>(name);
        if (widget == nullptr)
            qFatal("no widget %s", qPrintable(name));
        return widget;
    }
    QLineEdit* edit(const QString& name) const { return find<QLineEdit>(name); }
    QCheckBox* check(const QString& name) const { return find<QCheckBox>(name); }
    QPushButton* button(const QString& name) const { return find<QPushButton>(name); }
    QString text(const QString& name) const { return edit(name)->text(); }
    core::JobSettings& settings() const { return window->job().settings; }
};

// Clicks a check box on its indicator, where a person would.
void clickCheck(QCheckBox* box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, {}, indicator.center());
}

// Empties an edit the way a person does: select everything, then Backspace.
void emptyByKeys(QLineEdit* edit)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
}

void typeBehindText(QLineEdit* edit, const QString& keys)
{
    edit->setFocus();
    edit->end(false);
    QTest::keyClicks(edit, keys);
}

const QStringList kNumberEdits = {"framePosEdit",        "stopAfterFramesEdit",  "audioEdit",
                                  "finalSizeEdit",       "highBitrateLimitEdit", "lowRunMaxGroupsEdit",
                                  "highRunMinGroupsEdit"};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void opensWithTheDefaults();
    void laysOutEveryControlInsideItsGroupWithoutClipping();
    void numberFieldsTakeOnlyDigits();
    void enableRulesFollowTheTwoBoxes_data();
    void enableRulesFollowTheTwoBoxes();
    void endingKeepsStopAfterTickedWhileDisablingIt();
    void ruleRunsWithTheOldFlagWhenAnEarlierFieldFails();
    void analyzeTellsWhatIsMissingAndRestoresTheCursor();
    void exchangeStopsAtTheFirstFieldWithoutANumber();
    void numberPrompt_data();
    void numberPrompt();
    void exchangeBackKeepsCaretOfUnchangedText();
    void estimateStaysEmptyWhileNotAnalysed();
    void estimateFollowsEveryEditOnceAnalysed();
    void pickers_data();
    void pickers();
    void cancelledPickerKeepsTypedText();
    void pickerKeepsTypedTextOfOtherFields();
    void endingPickerRunsOnlyWithTheEndingOn();
    void profileRoundTrip();
    void profileSaveCompletesTheExtension_data();
    void profileSaveCompletesTheExtension();
    void profileLoadOfAMissingFile();
    void profileSaveFailureIsReportedOnce();
    void cancelledProfilePickersChangeNothing();
    void enterIsTheOkAction_data();
    void enterIsTheOkAction();
    void enterPressesTheFocusedButton();
    void escapeAndExitClose_data();
    void escapeAndExitClose();
    void escapeDuringCreateLeavesAReadableFinalAvi();
};

void MainWindowTest::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window outlived its test");
}

void MainWindowTest::opensWithTheDefaults()
{
    Fixture f;
    QCOMPARE(f.window->windowTitle(), QStringLiteral("Kestrel - Ion 1.2 - Nov. 2000"));
    QVERIFY(!f.window->windowIcon().isNull());
    for (const char* name : {"fmPathEdit", "lmPathEdit", "finalPathEdit", "endingPathEdit"})
        QCOMPARE(f.text(name), QString());
    QCOMPARE(f.text("audioEdit"), QStringLiteral("128"));
    QCOMPARE(f.text("finalSizeEdit"), QStringLiteral("702"));
    QCOMPARE(f.text("highBitrateLimitEdit"), QStringLiteral("700"));
    QCOMPARE(f.text("framePosEdit"), QStringLiteral("0"));
    QCOMPARE(f.text("stopAfterFramesEdit"), QStringLiteral("0"));
    QCOMPARE(f.text("highRunMinGroupsEdit"), QStringLiteral("1"));
    QCOMPARE(f.text("lowRunMaxGroupsEdit"), QStringLiteral("1"));
    QVERIFY(!f.check("endingCheck")->isChecked());
    QVERIFY(!f.check("stopAfterCheck")->isChecked());
    QVERIFY(f.check("smootherCheck")->isChecked());
    QVERIFY(!f.check("statisticFileCheck")->isChecked());
    QCOMPARE(f.find<QLabel>("lmBitrateLabel")->text(), QString());

    QVERIFY(f.check("stopAfterCheck")->isEnabled());
    for (const char* name : {"endingPathEdit", "framePosEdit", "stopAfterFramesEdit"})
        QVERIFY2(!f.edit(name)->isEnabled(), name);
    QVERIFY(!f.button("endingBrowseButton")->isEnabled());
    QVERIFY(!f.find<QLabel>("framePosLabel")->isEnabled());

    // Nothing of the hidden smoother settings shows.
    for (const char* name :
         {"lowRunMaxGroupsEdit", "highRunMinGroupsEdit", "lowRunMaxGroupsLabel", "highRunMinGroupsLabel"})
        QVERIFY2(!f.find<QWidget>(name)->isVisible(), name);

    // No push button is the default one.
    for (QPushButton* button : f.window->findChildren<QPushButton*>()) {
        QVERIFY2(!button->autoDefault(), qPrintable(button->objectName()));
        QVERIFY2(!button->isDefault(), qPrintable(button->objectName()));
    }
    QVERIFY(!f.button("loadButton")->icon().isNull());
    QVERIFY(!f.button("saveButton")->icon().isNull());
    QCOMPARE(f.button("loadButton")->toolTip(), QStringLiteral("Load"));

    QCOMPARE(QApplication::focusWidget(), f.edit("fmPathEdit"));

    core::JobSettings expected;
    core::applyOpeningDefaults(expected);
    QCOMPARE(f.settings().audioKbps, expected.audioKbps);
    QCOMPARE(f.settings().finalSizeMB, expected.finalSizeMB);
    QCOMPARE(f.settings().highBitrateLimit, expected.highBitrateLimit);
    QVERIFY(!f.window->job().state.analysed);
    QCOMPARE(f.port->prompts, 0);

    // Tab walks the controls in the template's order, skipping the disabled ones.
    const QStringList tabOrder = {
        "fmPathEdit",     "fmBrowseButton",       "endingCheck",       "stopAfterCheck",     "audioEdit",
        "finalSizeEdit",  "highBitrateLimitEdit", "smootherCheck",     "analyzeButton",      "lmPathEdit",
        "lmBrowseButton", "finalPathEdit",        "finalBrowseButton", "statisticFileCheck", "createButton",
        "exitButton",     "loadButton",           "saveButton",        "fmPathEdit"};
    for (qsizetype i = 1; i < tabOrder.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), tabOrder[i]);
    }
}

void MainWindowTest::laysOutEveryControlInsideItsGroupWithoutClipping()
{
    Fixture f;
    const QRect client = f.window->rect();
    const QList<QWidget*> all = f.window->findChildren<QWidget*>();
    QList<QWidget*> controls;
    for (QWidget* widget : all) {
        if (!widget->isVisible() || widget->isWindow() || widget->parentWidget() == nullptr)
            continue;
        if (qobject_cast<QLineEdit*>(widget) || qobject_cast<QPushButton*>(widget) ||
            qobject_cast<QCheckBox*>(widget) || qobject_cast<QLabel*>(widget) ||
            qobject_cast<QGroupBox*>(widget))
            controls << widget;
    }
    QCOMPARE(controls.size(), 35); // 39 items, four of them hidden
    for (QWidget* widget : controls) {
        const QString name = widget->objectName();
        QVERIFY2(widget->parentWidget()->rect().contains(widget->geometry()), qPrintable(name));
        const QRect onWindow(widget->mapTo(f.window.get(), QPoint(0, 0)), widget->size());
        QVERIFY2(client.contains(onWindow), qPrintable(name));
        if (auto* label = qobject_cast<QLabel*>(widget))
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                     qPrintable(name));
        if (auto* box = qobject_cast<QCheckBox*>(widget))
            QVERIFY2(box->sizeHint().width() <= box->width(), qPrintable(name));
        if (auto* button = qobject_cast<QPushButton*>(widget))
            QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) < button->width(),
                     qPrintable(name));
    }
    // Controls that share a parent never overlap (group boxes hold theirs as children).
    for (QWidget* a : controls) {
        for (QWidget* b : controls) {
            if (a < b && a->parentWidget() == b->parentWidget())
                QVERIFY2(!a->geometry().intersects(b->geometry()),
                         qPrintable(a->objectName() + " overlaps " + b->objectName()));
        }
    }
    // The groups hold what the window shows them holding.
    const QMap<QString, QStringList> groups = {
        {"sourceGroup",
         {"fmPathEdit", "fmBrowseButton", "endingCheck", "endingPathEdit", "endingBrowseButton",
          "framePosEdit", "framePosLabel", "stopAfterCheck", "stopAfterFramesEdit", "fmPathLabel"}},
        {"thresholdGroup",
         {"audioEdit", "finalSizeEdit", "highBitrateLimitEdit", "smootherCheck", "audioLabel",
          "finalSizeLabel", "highBitrateLimitLabel"}},
        {"destinationGroup",
         {"lmPathEdit", "lmBrowseButton", "finalPathEdit", "finalBrowseButton", "statisticFileCheck",
          "lmPathLabel", "finalPathLabel"}},
        {"otherGroup", {"loadButton", "saveButton", "exitButton"}}};
    for (auto group = groups.cbegin(); group != groups.cend(); ++group) {
        for (const QString& member : group.value())
            QCOMPARE(f.find<QWidget>(member)->parentWidget()->objectName(), group.key());
    }
    for (const char* outside : {"analyzeButton", "createButton", "lmBitrateLabel", "lmBitrateCaptionLabel"})
        QCOMPARE(f.find<QWidget>(outside)->parentWidget(), f.window.get());
    QCOMPARE(f.edit("audioEdit")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    QCOMPARE(f.edit("highBitrateLimitEdit")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    QCOMPARE(f.check("smootherCheck")->layoutDirection(), Qt::RightToLeft);
}

void MainWindowTest::numberFieldsTakeOnlyDigits()
{
    Fixture f;
    clickCheck(f.check("endingCheck"));
    for (const QString& name : kNumberEdits) {
        QLineEdit* edit = f.edit(name);
        edit->setEnabled(true);
        edit->selectAll();
        edit->setFocus();
        QTest::keyClicks(edit, "1a-2 .3");
        QCOMPARE(edit->text(), QStringLiteral("123"));
    }
    for (const char* name : {"framePosEdit", "stopAfterFramesEdit", "audioEdit", "finalSizeEdit"})
        QCOMPARE(f.edit(name)->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
}

void MainWindowTest::enableRulesFollowTheTwoBoxes_data()
{
    QTest::addColumn<bool>("ending");
    QTest::addColumn<bool>("stopAfter");
    QTest::addColumn<bool>("endingControlsEnabled");
    QTest::addColumn<bool>("stopAfterCheckEnabled");
    QTest::addColumn<bool>("stopAfterFramesEnabled");

    QTest::newRow("neither") << false << false << false << true << false;
    QTest::newRow("stop after") << false << true << false << true << true;
    QTest::newRow("ending") << true << false << true << false << false;
    QTest::newRow("both") << true << true << true << false << false;
}

void MainWindowTest::enableRulesFollowTheTwoBoxes()
{
    QFETCH(bool, ending);
    QFETCH(bool, stopAfter);
    QFETCH(bool, endingControlsEnabled);
    QFETCH(bool, stopAfterCheckEnabled);
    QFETCH(bool, stopAfterFramesEnabled);

    Fixture f;
    // Stop after first: it cannot be ticked once the ending disables it.
    if (stopAfter)
        clickCheck(f.check("stopAfterCheck"));
    if (ending)
        clickCheck(f.check("endingCheck"));
    QCOMPARE(f.settings().endingEnabled, ending);
    QCOMPARE(f.settings().stopAfterEnabled, stopAfter);
    QCOMPARE(f.check("stopAfterCheck")->isChecked(), stopAfter);
    QCOMPARE(f.edit("endingPathEdit")->isEnabled(), endingControlsEnabled);
    QCOMPARE(f.button("endingBrowseButton")->isEnabled(), endingControlsEnabled);
    QCOMPARE(f.find<QLabel>("framePosLabel")->isEnabled(), endingControlsEnabled);
    QCOMPARE(f.edit("framePosEdit")->isEnabled(), endingControlsEnabled);
    QCOMPARE(f.check("stopAfterCheck")->isEnabled(), stopAfterCheckEnabled);
    QCOMPARE(f.edit("stopAfterFramesEdit")->isEnabled(), stopAfterFramesEnabled);
}

void MainWindowTest::endingKeepsStopAfterTickedWhileDisablingIt()
{
    Fixture f;
    clickCheck(f.check("stopAfterCheck"));
    clickCheck(f.check("endingCheck"));
    QVERIFY(f.check("stopAfterCheck")->isChecked());
    QVERIFY(!f.check("stopAfterCheck")->isEnabled());
    QVERIFY(f.settings().stopAfterEnabled);
    clickCheck(f.check("endingCheck"));
    QVERIFY(f.check("stopAfterCheck")->isEnabled());
    QVERIFY(f.edit("stopAfterFramesEdit")->isEnabled());
    QVERIFY(!f.settings().endingEnabled);
}

void MainWindowTest::ruleRunsWithTheOldFlagWhenAnEarlierFieldFails()
{
    Fixture f;
    clickCheck(f.check("endingCheck"));
    emptyByKeys(f.edit("framePosEdit"));
    // The frame position comes before the box in the exchange, so the flag is not taken in.
    clickCheck(f.check("endingCheck"));
    QVERIFY(!f.check("endingCheck")->isChecked());
    QVERIFY(f.settings().endingEnabled);
    QVERIFY(f.edit("endingPathEdit")->isEnabled());
    QVERIFY(!f.check("stopAfterCheck")->isEnabled());
    QCOMPARE(f.port->prompts, 2); // once per rule: the ending rule, then the Stop-after rule
    QCOMPARE(QApplication::focusWidget(), f.edit("framePosEdit"));
    // Once the field holds a number, the next click brings the states in line with the boxes.
    QTest::keyClicks(f.edit("framePosEdit"), "25");
    clickCheck(f.check("endingCheck"));
    clickCheck(f.check("endingCheck"));
    QVERIFY(!f.settings().endingEnabled);
    QVERIFY(!f.edit("endingPathEdit")->isEnabled());
    QVERIFY(f.check("stopAfterCheck")->isEnabled());
}

void MainWindowTest::analyzeTellsWhatIsMissingAndRestoresTheCursor()
{
    Fixture f;
    f.edit("fmPathEdit")->setText("/no/such/film.avi");
    QTest::mouseClick(f.button("analyzeButton"), Qt::LeftButton);
    QCOMPARE(f.port->messages.size(), size_t(1));
    QVERIFY(!f.window->job().state.analysed);
    QCOMPARE(f.find<QLabel>("lmBitrateLabel")->text(), QString());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(f.window->isVisible());
}

void MainWindowTest::exchangeStopsAtTheFirstFieldWithoutANumber()
{
    Fixture f;
    clickCheck(f.check("endingCheck"));
    f.edit("fmPathEdit")->setText("/films/fm.avi");
    f.edit("framePosEdit")->setText("12x");
    {
        const QSignalBlocker quiet(f.edit("highBitrateLimitEdit"));
        f.edit("highBitrateLimitEdit")->setText("650");
    }
    f.settings().framePos = 7;
    QVERIFY(!f.window->storeControlsInJob());
    QCOMPARE(f.port->prompts, 1);
    QCOMPARE(f.settings().fastMotionPath, std::string("/films/fm.avi"));
    QCOMPARE(f.settings().framePos, 7);
    QCOMPARE(f.settings().highBitrateLimit, 700);
    QCOMPARE(QApplication::focusWidget(), f.edit("framePosEdit"));
    QCOMPARE(f.edit("framePosEdit")->selectedText(), QStringLiteral("12x"));
    // Numbers beyond 32 bits are not whole numbers of the job either.
    f.edit("framePosEdit")->setText("2147483648");
    QVERIFY(!f.window->storeControlsInJob());
    f.edit("framePosEdit")->setText("2147483647");
    QVERIFY(f.window->storeControlsInJob());
    QCOMPARE(f.settings().framePos, 2147483647);
    QCOMPARE(f.settings().highBitrateLimit, 650);
    QCOMPARE(f.port->prompts, 2);
}

void MainWindowTest::numberPrompt_data()
{
    QTest::addColumn<QString>("boxToTick");
    QTest::addColumn<QString>("fieldToEmpty");
    QTest::addColumn<QString>("editedField");
    QTest::addColumn<QString>("keys"); // "\b": Backspace over the selected text
    QTest::addColumn<bool>("selectFirst");
    QTest::addColumn<int>("prompts");
    QTest::addColumn<QString>("editedText");
    QTest::addColumn<QString>("focus");

    QTest::newRow("fourth digit behind 128") << ""
                                             << ""
                                             << "audioEdit"
                                             << "4" << false << 0 << "1284"
                                             << "audioEdit";
    QTest::newRow("emptied audio comes back") << ""
                                              << ""
                                              << "audioEdit"
                                              << "\b" << true << 1 << "128"
                                              << "audioEdit";
    QTest::newRow("emptied final size comes back") << ""
                                                   << ""
                                                   << "finalSizeEdit"
                                                   << "\b" << true << 1 << "702"
                                                   << "finalSizeEdit";
    QTest::newRow("emptied limit comes back") << ""
                                              << ""
                                              << "highBitrateLimitEdit"
                                              << "\b" << true << 1 << "700"
                                              << "highBitrateLimitEdit";
    QTest::newRow("overtyping a selected number") << ""
                                                  << ""
                                                  << "finalSizeEdit"
                                                  << "5" << true << 0 << "5"
                                                  << "finalSizeEdit";
    QTest::newRow("empty field before the edit undoes it") << "endingCheck"
                                                           << "framePosEdit"
                                                           << "audioEdit"
                                                           << "4" << false << 1 << "128"
                                                           << "framePosEdit";
    QTest::newRow("empty field after the edit keeps it") << "stopAfterCheck"
                                                         << "stopAfterFramesEdit"
                                                         << "audioEdit"
                                                         << "4" << false << 1 << "1284"
                                                         << "stopAfterFramesEdit";
}

void MainWindowTest::numberPrompt()
{
    QFETCH(QString, boxToTick);
    QFETCH(QString, fieldToEmpty);
    QFETCH(QString, editedField);
    QFETCH(QString, keys);
    QFETCH(bool, selectFirst);
    QFETCH(int, prompts);
    QFETCH(QString, editedText);
    QFETCH(QString, focus);

    Fixture f;
    if (!boxToTick.isEmpty())
        clickCheck(f.check(boxToTick));
    if (!fieldToEmpty.isEmpty()) {
        // The frame counts have no handler: they can be emptied without a prompt.
        emptyByKeys(f.edit(fieldToEmpty));
        QCOMPARE(f.text(fieldToEmpty), QString());
        QCOMPARE(f.port->prompts, 0);
    }
    QLineEdit* edited = f.edit(editedField);
    edited->setFocus();
    if (selectFirst)
        edited->selectAll();
    else
        edited->end(false);
    if (keys == "\b")
        QTest::keyClick(edited, Qt::Key_Backspace);
    else
        QTest::keyClicks(edited, keys);

    QCOMPARE(f.port->prompts, prompts);
    QCOMPARE(edited->text(), editedText);
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    QCOMPARE(f.find<QLabel>("lmBitrateLabel")->text(), QString());
    if (!fieldToEmpty.isEmpty())
        QCOMPARE(f.text(fieldToEmpty), QStringLiteral("0"));
    if (prompts == 0 && !selectFirst)
        QCOMPARE(edited->cursorPosition(), editedText.size());
}

void MainWindowTest::exchangeBackKeepsCaretOfUnchangedText()
{
    Fixture f;
    QLineEdit* path = f.edit("fmPathEdit");
    path->setText("/films/fm.avi");
    path->setFocus();
    path->setSelection(7, 2);
    QVERIFY(f.window->storeControlsInJob());
    f.window->showJobInControls();
    QCOMPARE(path->selectedText(), QStringLiteral("fm"));
    f.settings().fastMotionPath = "/films/other.avi";
    f.window->showJobInControls();
    QCOMPARE(path->text(), QStringLiteral("/films/other.avi"));
}

void MainWindowTest::estimateStaysEmptyWhileNotAnalysed()
{
    Fixture f;
    typeBehindText(f.edit("audioEdit"), "4");
    clickCheck(f.check("smootherCheck"));
    typeBehindText(f.edit("highBitrateLimitEdit"), "0");
    QCOMPARE(f.find<QLabel>("lmBitrateLabel")->text(), QString());
    QCOMPARE(f.settings().audioKbps, 1284);
    QCOMPARE(f.settings().highBitrateLimit, 7000);
    QVERIFY(!f.settings().sceneSwitchingSmoother);
}

void MainWindowTest::estimateFollowsEveryEditOnceAnalysed()
{
    Fixture f;
    f.edit("fmPathEdit")->setText(QString::fromStdString(test_support::fastMotionAvi(1000)));
    QTest::mouseClick(f.button("analyzeButton"), Qt::LeftButton);
    QVERIFY2(f.port->messages.empty(), f.port->messages.empty() ? "" : f.port->messages.front().text.c_str());
    QVERIFY(f.window->job().state.analysed);
    QLabel* label = f.find<QLabel>("lmBitrateLabel");
    const QString analysed = label->text();
    QVERIFY(!analysed.isEmpty());
    QCOMPARE(f.settings().lowMotionBitrateText, analysed.toStdString());
    QVERIFY(QApplication::overrideCursor() == nullptr);

    // A target of 1 MB cannot hold the film: no Low Motion bitrate fills it.
    QLineEdit* size = f.edit("finalSizeEdit");
    size->setFocus();
    size->selectAll();
    QTest::keyClick(size, Qt::Key_1);
    QCOMPARE(label->text(), QStringLiteral("n/a"));
    QTest::keyClicks(size, "0000");
    const QString large = label->text();
    QVERIFY(large != QStringLiteral("n/a"));
    // More audio leaves less room for the video.
    typeBehindText(f.edit("audioEdit"), "0");
    QVERIFY(label->text().toInt() < large.toInt());
    QCOMPARE(f.port->prompts, 0);

    // A loaded profile has not been analysed: the label keeps its text from then on.
    const std::string dir = test_support::freshTempDir("estimate_after_load");
    f.picker->answers.push_back(QString::fromStdString(dir + "/missing.ini"));
    QTest::mouseClick(f.button("loadButton"), Qt::LeftButton);
    QVERIFY(!f.window->job().state.analysed);
    const QString kept = label->text();
    typeBehindText(f.edit("audioEdit"), "5");
    QCOMPARE(label->text(), kept);
}

void MainWindowTest::pickers_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("expected");

    const int open = int(PickerKind::Open);
    const int save = int(PickerKind::Save);
    QTest::newRow("fast motion") << "fmBrowseButton"
                                 << "fmPathEdit" << open << "/films/fm"
                                 << "/films/fm";
    QTest::newRow("low motion") << "lmBrowseButton"
                                << "lmPathEdit" << open << "/films/lm.avi"
                                << "/films/lm.avi";
    QTest::newRow("final without extension") << "finalBrowseButton"
                                             << "finalPathEdit" << save << "/films/film"
                                             << "/films/film.avi";
    QTest::newRow("final with another extension") << "finalBrowseButton"
                                                  << "finalPathEdit" << save << "/films/film.mpg"
                                                  << "/films/film.mpg";
    QTest::newRow("final ending in a dot") << "finalBrowseButton"
                                           << "finalPathEdit" << save << "/films/film."
                                           << "/films/film..avi";
    QTest::newRow("final in a folder with a dot") << "finalBrowseButton"
                                                  << "finalPathEdit" << save << "/films.d/film"
                                                  << "/films.d/film.avi";
    QTest::newRow("final already an AVI") << "finalBrowseButton"
                                          << "finalPathEdit" << save << "/films/film.avi"
                                          << "/films/film.avi";
}

void MainWindowTest::pickers()
{
    QFETCH(QString, button);
    QFETCH(QString, field);
    QFETCH(int, kind);
    QFETCH(QString, answer);
    QFETCH(QString, expected);

    Fixture f;
    f.picker->answers.push_back(answer);
    QTest::mouseClick(f.button(button), Qt::LeftButton);
    QCOMPARE(f.picker->calls.size(), size_t(1));
    QCOMPARE(int(f.picker->calls.front().kind), kind);
    QCOMPARE(f.picker->calls.front().filters, QStringList({"DivX ;-) AVI-Files (*.avi)", "All Files (*.*)"}));
    QCOMPARE(f.text(field), expected);
}

void MainWindowTest::cancelledPickerKeepsTypedText()
{
    Fixture f;
    f.edit("finalPathEdit")->setText("typed");
    f.edit("stopAfterFramesEdit")->setText("");
    for (const char* name : {"fmBrowseButton", "lmBrowseButton", "finalBrowseButton"})
        QTest::mouseClick(f.button(name), Qt::LeftButton);
    QCOMPARE(f.picker->calls.size(), size_t(3));
    QCOMPARE(f.text("finalPathEdit"), QStringLiteral("typed"));
    QCOMPARE(f.text("stopAfterFramesEdit"), QString());
    QCOMPARE(f.settings().finalPath, std::string());
    QCOMPARE(f.port->prompts, 0);
}

void MainWindowTest::pickerKeepsTypedTextOfOtherFields()
{
    Fixture f;
    f.edit("lmPathEdit")->setText("/films/typed-lm.avi");
    f.picker->answers.push_back(QStringLiteral("/films/fm.avi"));
    QTest::mouseClick(f.button("fmBrowseButton"), Qt::LeftButton);
    QCOMPARE(f.text("lmPathEdit"), QStringLiteral("/films/typed-lm.avi"));
    QCOMPARE(f.settings().lowMotionPath, std::string("/films/typed-lm.avi"));
    QCOMPARE(f.settings().fastMotionPath, std::string("/films/fm.avi"));
}

void MainWindowTest::endingPickerRunsOnlyWithTheEndingOn()
{
    Fixture f;
    f.picker->answers.push_back(QStringLiteral("/films/ending.avi"));
    QTest::mouseClick(f.button("endingBrowseButton"), Qt::LeftButton);
    QVERIFY(f.picker->calls.empty());
    clickCheck(f.check("endingCheck"));
    QTest::mouseClick(f.button("endingBrowseButton"), Qt::LeftButton);
    QCOMPARE(f.picker->calls.size(), size_t(1));
    QCOMPARE(f.text("endingPathEdit"), QStringLiteral("/films/ending.avi"));
}

void MainWindowTest::profileRoundTrip()
{
    const std::string dir = test_support::freshTempDir("profile_round_trip");
    const QString path = QString::fromStdString(dir + "/job.ini");
    {
        Fixture f;
        f.edit("fmPathEdit")->setText("/films/fm.avi");
        f.edit("lmPathEdit")->setText("/films/lm.avi");
        f.edit("finalPathEdit")->setText("/films/final.avi");
        clickCheck(f.check("stopAfterCheck"));
        emptyByKeys(f.edit("stopAfterFramesEdit"));
        QTest::keyClicks(f.edit("stopAfterFramesEdit"), "1500");
        // Overtyped: emptying it would bring the prompt and the exchange back.
        f.edit("audioEdit")->setFocus();
        f.edit("audioEdit")->selectAll();
        QTest::keyClicks(f.edit("audioEdit"), "96");
        clickCheck(f.check("smootherCheck"));
        f.picker->answers.push_back(path);
        QTest::mouseClick(f.button("saveButton"), Qt::LeftButton);
        QCOMPARE(int(f.picker->calls.back().kind), int(PickerKind::Save));
        QCOMPARE(f.picker->calls.back().filters,
                 QStringList({"KestrelIon Profile-Files (*.ini)", "All Files (*.*)"}));
        QVERIFY(f.port->messages.empty());
    }
    QVERIFY(std::filesystem::exists(path.toStdString()));

    Fixture f;
    f.window->job().state.analysed = true;
    f.picker->answers.push_back(path);
    QTest::mouseClick(f.button("loadButton"), Qt::LeftButton);
    QCOMPARE(int(f.picker->calls.back().kind), int(PickerKind::OpenExisting));
    QCOMPARE(f.text("fmPathEdit"), QStringLiteral("/films/fm.avi"));
    QCOMPARE(f.text("lmPathEdit"), QStringLiteral("/films/lm.avi"));
    QCOMPARE(f.text("finalPathEdit"), QStringLiteral("/films/final.avi"));
    QVERIFY(f.check("stopAfterCheck")->isChecked());
    QCOMPARE(f.text("stopAfterFramesEdit"), QStringLiteral("1500"));
    QVERIFY(f.edit("stopAfterFramesEdit")->isEnabled());
    QCOMPARE(f.text("audioEdit"), QStringLiteral("96"));
    QCOMPARE(f.text("finalSizeEdit"), QStringLiteral("702"));
    QVERIFY(!f.check("smootherCheck")->isChecked());
    QVERIFY(!f.window->job().state.analysed);
    QCOMPARE(f.port->prompts, 0);
}

void MainWindowTest::profileSaveCompletesTheExtension_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("written");
    QTest::newRow("no extension") << "job"
                                  << "job.ini";
    QTest::newRow("another extension") << "job.txt"
                                       << "job.txt";
    QTest::newRow("ending in a dot") << "job."
                                     << "job..ini";
}

void MainWindowTest::profileSaveCompletesTheExtension()
{
    QFETCH(QString, chosen);
    QFETCH(QString, written);

    const QString dir = QString::fromStdString(test_support::freshTempDir("profile_extension"));
    Fixture f;
    f.picker->answers.push_back(dir + "/" + chosen);
    QTest::mouseClick(f.button("saveButton"), Qt::LeftButton);
    QVERIFY(std::filesystem::exists((dir + "/" + written).toStdString()));
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.toStdString()))
        ++files;
    QCOMPARE(files, 1);
}

void MainWindowTest::profileLoadOfAMissingFile()
{
    const std::string dir = test_support::freshTempDir("profile_missing");
    Fixture f;
    f.edit("fmPathEdit")->setText("/films/fm.avi");
    f.edit("finalPathEdit")->setText("/films/final.avi");
    clickCheck(f.check("endingCheck"));
    f.edit("endingPathEdit")->setText("/films/ending.avi");
    emptyByKeys(f.edit("framePosEdit"));
    QTest::keyClicks(f.edit("framePosEdit"), "900");
    f.picker->answers.push_back(QString::fromStdString(dir + "/missing.ini"));
    QTest::mouseClick(f.button("loadButton"), Qt::LeftButton);

    QCOMPARE(f.text("fmPathEdit"), QString());
    QCOMPARE(f.text("finalPathEdit"), QString());
    QVERIFY(!f.check("endingCheck")->isChecked());
    QVERIFY(!f.check("stopAfterCheck")->isChecked());
    QVERIFY(!f.check("smootherCheck")->isChecked());
    QCOMPARE(f.text("audioEdit"), QStringLiteral("0"));
    QCOMPARE(f.text("finalSizeEdit"), QStringLiteral("0"));
    QCOMPARE(f.text("highBitrateLimitEdit"), QStringLiteral("0"));
    QCOMPARE(f.text("endingPathEdit"), QStringLiteral("/films/ending.avi"));
    QCOMPARE(f.text("framePosEdit"), QStringLiteral("900"));
    // The enable rules ran for the loaded flags.
    QVERIFY(!f.edit("endingPathEdit")->isEnabled());
    QVERIFY(f.check("stopAfterCheck")->isEnabled());
    QVERIFY(!std::filesystem::exists(dir + "/missing.ini"));
    QVERIFY(f.port->messages.empty());
}

void MainWindowTest::profileSaveFailureIsReportedOnce()
{
    const std::string dir = test_support::freshTempDir("profile_failure");
    Fixture f;
    f.picker->answers.push_back(QString::fromStdString(dir + "/no/such/folder/job"));
    QTest::mouseClick(f.button("saveButton"), Qt::LeftButton);
    QCOMPARE(f.port->messages.size(), size_t(1));
    QCOMPARE(f.port->messages.front().text, std::string("An error occured during save!!!"));
    QCOMPARE(f.text("audioEdit"), QStringLiteral("128"));
}

void MainWindowTest::cancelledProfilePickersChangeNothing()
{
    Fixture f;
    f.edit("fmPathEdit")->setText("typed");
    const core::JobSettings before = f.settings();
    QTest::mouseClick(f.button("loadButton"), Qt::LeftButton);
    QTest::mouseClick(f.button("saveButton"), Qt::LeftButton);
    QCOMPARE(f.picker->calls.size(), size_t(2));
    QVERIFY(f.settings() == before);
    QCOMPARE(f.text("fmPathEdit"), QStringLiteral("typed"));
}

void MainWindowTest::enterIsTheOkAction_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<bool>("emptyStopFrames");
    QTest::addColumn<bool>("closes");
    QTest::newRow("in a path field") << "fmPathEdit" << false << true;
    QTest::newRow("in a number field") << "audioEdit" << false << true;
    QTest::newRow("on a check box") << "smootherCheck" << false << true;
    QTest::newRow("with a field holding no number") << "fmPathEdit" << true << false;
}

void MainWindowTest::enterIsTheOkAction()
{
    QFETCH(QString, focus);
    QFETCH(bool, emptyStopFrames);
    QFETCH(bool, closes);

    Fixture f;
    f.edit("fmPathEdit")->setText("/films/fm.avi");
    if (emptyStopFrames) {
        clickCheck(f.check("stopAfterCheck"));
        f.edit("stopAfterFramesEdit")->setText("");
    }
    QWidget* target = f.find<QWidget>(focus);
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Return);
    QCOMPARE(!f.window->isVisible(), closes);
    QCOMPARE(f.port->prompts, closes ? 0 : 1);
    if (closes) {
        QCOMPARE(f.window->result(), int(QDialog::Accepted));
        QCOMPARE(f.settings().fastMotionPath, std::string("/films/fm.avi"));
    } else {
        QCOMPARE(QApplication::focusWidget(), f.edit("stopAfterFramesEdit"));
    }
}

void MainWindowTest::enterPressesTheFocusedButton()
{
    Fixture f;
    f.picker->answers.push_back(QStringLiteral("/films/lm.avi"));
    f.button("lmBrowseButton")->setFocus();
    QTest::keyClick(f.button("lmBrowseButton"), Qt::Key_Return);
    QVERIFY(f.window->isVisible());
    QCOMPARE(f.text("lmPathEdit"), QStringLiteral("/films/lm.avi"));
}

void MainWindowTest::escapeAndExitClose_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Escape") << "escape";
    QTest::newRow("Exit") << "exit";
    QTest::newRow("close box") << "close";
}

void MainWindowTest::escapeAndExitClose()
{
    QFETCH(QString, how);

    Fixture f;
    // Cancel exchanges nothing, so a field holding no number does not keep the window open.
    f.edit("stopAfterFramesEdit")->setText("");
    f.edit("fmPathEdit")->setText("typed");
    if (how == "escape")
        QTest::keyClick(f.edit("fmPathEdit"), Qt::Key_Escape);
    else if (how == "exit")
        QTest::mouseClick(f.button("exitButton"), Qt::LeftButton);
    else
        f.window->close();
    QVERIFY(!f.window->isVisible());
    QCOMPARE(f.window->result(), int(QDialog::Rejected));
    QCOMPARE(f.settings().fastMotionPath, std::string());
    QCOMPARE(f.port->prompts, 0);
}

void MainWindowTest::escapeDuringCreateLeavesAReadableFinalAvi()
{
    const std::string dir = test_support::freshTempDir("create_escape");
    const std::string finalPath = dir + "/final.avi";
    const std::string fmPath = test_support::fastMotionAvi(3000);
    const std::string lmPath = test_support::lowMotionAvi(3000);
    Fixture f;
    f.edit("fmPathEdit")->setText(QString::fromStdString(fmPath));
    f.edit("lmPathEdit")->setText(QString::fromStdString(lmPath));
    f.edit("finalPathEdit")->setText(QString::fromStdString(finalPath));
    clickCheck(f.check("statisticFileCheck"));

    // Runs inside the progress window's pump: the first pump tries every command of the
    // window, the second presses Escape.
    int pumps = 0;
    bool progressWasActive = false;
    bool blockedWhileCopying = false;
    bool closedWhileCopying = false;
    QTimer poller;
    poller.setInterval(0);
    connect(&poller, &QTimer::timeout, this, [&] {
        if (!f.window->copying())
            return;
        app::ProgressWindow* progress = f.window->findChild<app::ProgressWindow*>();
        if (progress == nullptr || !progress->isVisible())
            return;
        ++pumps;
        if (pumps == 1) {
            const core::JobSettings before = f.settings();
            const size_t pickerCalls = f.picker->calls.size();
            QTest::mouseClick(f.button("analyzeButton"), Qt::LeftButton);
            QTest::mouseClick(f.button("createButton"), Qt::LeftButton);
            f.window->runAnalyze();
            f.window->runCreate();
            f.window->loadProfile();
            f.window->pickFastMotionAvi();
            f.window->updateEndingControls();
            f.edit("audioEdit")->setText("64");
            f.window->refreshEstimate();
            blockedWhileCopying = !f.button("analyzeButton")->isEnabled() &&
                                  !f.button("createButton")->isEnabled() && !f.window->job().state.analysed &&
                                  f.picker->calls.size() == pickerCalls && f.settings() == before &&
                                  f.port->messages.empty();
            f.window->close();
            QTest::keyClick(f.window.get(), Qt::Key_Escape);
            closedWhileCopying = !f.window->isVisible();
        } else if (pumps == 2) {
            progressWasActive = QApplication::activeWindow() == progress;
            QWidget* target = QApplication::focusWidget();
            if (target == nullptr || target->window() != progress)
                target = progress;
            QTest::keyClick(target, Qt::Key_Escape);
        }
    });
    poller.start();
    QTest::mouseClick(f.button("createButton"), Qt::LeftButton);
    poller.stop();

    QVERIFY(blockedWhileCopying);
    QVERIFY(!closedWhileCopying);
    QVERIFY(progressWasActive);
    QCOMPARE(pumps, 2);
    QVERIFY(!f.window->copying());
    QVERIFY(f.window->findChild<app::ProgressWindow*>() == nullptr);
    QVERIFY(f.button("analyzeButton")->isEnabled());
    QVERIFY(f.button("createButton")->isEnabled());
    QVERIFY(f.find<QGroupBox>("sourceGroup")->isEnabled());
    QVERIFY(!f.edit("endingPathEdit")->isEnabled());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(f.window->isVisible());

    // The copy stopped between groups and left a Final AVI that another reader accepts.
    const std::vector<test_support::ProbePacket> packets = test_support::probePackets(finalPath);
    QVERIFY(!packets.empty());
    QVERIFY(packets.size() < 3000);
    QVERIFY(packets.front().key);
    QVERIFY2(test_support::decodeErrors(finalPath).empty(), test_support::decodeErrors(finalPath).c_str());
    QVERIFY(!std::filesystem::exists(dir + "/stat.txt"));
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
