#pragma once

#include "app/main_window.h"
#include "media.h"

#include <QTest>
#include <QtWidgets>

#include <vector>

// Adds a data row: row("name", the column values...).
template <typename... Values> void row(const char* name, const Values&... values)
{
    (QTest::newRow(name) << ... << values);
}

// The base of every window test: its cleanup() fails when a window outlived the test.
class WindowTest : public QObject {
    Q_OBJECT

private slots:
    // Keeps what the window remembers in a folder of this test program's own.
    void initTestCase()
    {
        const std::string folder =
            test_support::freshTempDir("settings-" + QCoreApplication::applicationName().toStdString());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(folder));
    }
    void cleanup()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window outlived its test");
    }
};

// Answers the file pickers from a script and records every call as "kind filters start-folder".
struct ScriptedPicker : app::FilePicker {
    std::optional<QString> pickFile(QWidget*, app::PickerKind kind, const QStringList& filters,
                                    const QString& startFolder) override
    {
        const QString kinds[] = {"Open", "OpenExisting", "Save"};
        const char* type = filters == app::aviFilters()       ? " avi "
                           : filters == app::profileFilters() ? " ini "
                                                              : " ? ";
        calls << kinds[int(kind)] + type + startFolder;
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
    app::MainWindow window{std::move(ownedPort), std::move(ownedPicker)};

    bool shown = (window.show(), QTest::qWaitForWindowActive(&window));
    template <typename T = QLineEdit> T* at(const QString& name) { return window.findChild<T*>(name); }
    QString text(const QString& name) { return at(name)->text(); }
    void fill(std::initializer_list<std::pair<const char*, std::string>> fields)
    {
        for (const auto& [name, value] : fields)
            at(name)->setText(QString::fromStdString(value));
    }
    void key(const QString& name, Qt::Key key) // presses key in the named control, focused first
    {
        at<QWidget>(name)->setFocus();
        QTest::keyClick(at<QWidget>(name), key);
    }
    void click(const QString& name) { QTest::mouseClick(at<QAbstractButton>(name), Qt::LeftButton); }
    void type(const QString& name, const QString& keys, bool overAll = false) // "\b": Backspace
    {
        at(name)->setFocus();
        overAll ? at(name)->selectAll() : at(name)->end(false);
        keys == "\b" ? QTest::keyClick(at(name), Qt::Key_Backspace) : QTest::keyClicks(at(name), keys);
    }
};
