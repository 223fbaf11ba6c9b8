#pragma once

#include "app/drop_rules.h"
#include "app/file_picker.h"
#include "app/qt_ui_port.h"
#include "app/window_memory.h"
#include "core/job.h"
#include "engine/exact_size.h"
#include "engine/plan_view_model.h"
#include "engine/source_tables.h"

#include <QDialog>
#include <QPointer>

#include <memory>
#include <optional>

class QDropEvent;
class QLineEdit;

namespace Ui {
class MainWindow;
}

namespace app {

class PlanWindow;

// The tool's one working surface: every setting of the job is a control here, every command
// starts from one of its buttons. The window owns the job. Control values reach the job only
// through storeControlsInJob and come back only through showJobInControls; while either runs,
// and while Create copies, no command of the window starts.
class MainWindow : public QDialog {
    Q_OBJECT

public:
    // Builds the window with the job at its opening values; port and picker default to the
    // desktop's message boxes and file dialogs.
    explicit MainWindow(std::unique_ptr<QtUiPort> port = nullptr,
                        std::unique_ptr<FilePicker> picker = nullptr);
    ~MainWindow() override;

    core::Job& job() { return m_job; }
    const core::Job& job() const { return m_job; }

    // Moves the control values into the job's settings in the fixed exchange order. A number
    // field that holds no whole number brings the prompt, gets the focus with its text selected
    // and stops the exchange: the fields before it are updated, it and the later ones are not.
    // Returns false then.
    bool storeControlsInJob();
    // Moves the job's settings into the controls; a text is rewritten only where it differs.
    void showJobInControls();

    // True while Create is running.
    bool copying() const { return m_copying; }

public slots:
    void runAnalyze();
    void runCreate();
    // Re-plans with the estimate when the job is analysed and shows the Low Motion bitrate.
    void refreshEstimate();
    void loadProfile();
    // Loads the profile at path as Load does after its picker.
    void loadProfileFile(const QString& path);
    // Opens a file given to the program as the desktop gives it: a profile (".ini") loads as Load
    // loads it, any other file goes into the Fast Motion field. The settings then count as the
    // ones the window opened with. Returns false, changing nothing, for a profile that cannot be
    // read.
    bool openGivenFile(const QString& path);
    void saveProfile();
    void pickFastMotionAvi();
    void pickEndingAvi();
    void pickLowMotionAvi();
    void pickFinalAvi();
    void pickAudioFile();
    // Shows the sound file's codec and average Kbps and puts that Kbps, greyed, in place of the
    // typed audio reserve; an empty or unusable path gives the field back.
    void showSoundFile();
    // Enables the ending's controls exactly when its box is ticked, and the Stop-after box
    // exactly when it is not; then applies the Stop-after rule.
    void updateEndingControls();
    // Enables the stop frame count exactly when its box is ticked and enabled.
    void updateStopAfterControls();
    void showAboutBox();
    // Opens the plan view (or raises it) with the current plan.
    void showPlanWindow();
    // Puts kbps into the High Bitrate Limit field, whose change refreshes the estimate and the plan
    // view as typing does; nothing happens while a command runs.
    void setHighBitrateLimit(int kbps);
    // Sets the High Bitrate Limit whose Final AVI comes closest to the target, then refreshes.
    void runFit();
    // Checks the Final AVI against the plan of the settings and shows what it found.
    void runVerify();
    // Asks for the source, bitrate and path of the Low Motion AVI and encodes it; afterwards the
    // Low Motion path names it and the exact size and Fit count with it.
    void runEncode();
    // Asks for a film, a Final AVI, its size, the sound's Kbps and the mode and makes the Final AVI
    // in one step. Afterwards the window names the Final AVI and its size; in classic mode also
    // the Fast and Low Motion AVIs (kept in the work folder), analysed, with the fitted limit.
    void runMake();

protected:
    // Enter presses the focused push button and does nothing in a field; the window never takes
    // it as an order to close.
    void keyPressEvent(QKeyEvent* event) override;
    // Escape, Exit and the close box: closes the window, after asking whether to quit when the
    // settings changed since they were kept. Nothing happens while Create copies.
    void reject() override;
    // Keeps the window on a screen once its frame is known.
    void showEvent(QShowEvent* event) override;
    // Remembers the window's position and closes the plan view, then closes the window.
    void done(int result) override;
    // A file dragged over the window is accepted only where dropping it does something.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    class CopyScope;

    // True while an exchange or Create runs: notifications and commands are dropped then.
    bool commandsBlocked() const { return m_exchanging || m_copying; }
    // Reads the controls into settings in the fixed exchange order. Returns the first number
    // field that holds no whole number, leaving it and the later fields out, or nullptr.
    QLineEdit* readControls(core::JobSettings& settings) const;
    // Returns the settings as the controls show them, the estimate left out; nothing while a number
    // field holds no whole number.
    std::optional<core::JobSettings> settingsShown() const;
    // Keeps the settings shown as those the person has on file: after opening, Load and Save.
    void keepSettingsShown();
    // True when the settings shown differ from the kept ones.
    bool settingsChangedSinceKept() const;
    // Shows the exact size of the Final AVI for the job's settings once it is analysed (empty
    // while it cannot be known) and enables Fit exactly then.
    void showExactSize();
    void pickAvi(PickerKind kind, QLineEdit* edit, std::string core::JobSettings::*field,
                 bool completeExtension);
    // Asks the picker for a file, starting in the folder of currentPath or the last folder used.
    std::optional<QString> pickFile(PickerKind kind, const QStringList& filters, const QString& currentPath);
    // Puts path into a path setting after taking in the controls, so typed values survive.
    void setPath(std::string core::JobSettings::*field, const QString& path);
    struct PlannedDrop {
        QString path;
        DropAction action = DropAction::Refuse;
    };
    // Returns the one local file a drag carries and what dropping it where it is would do.
    PlannedDrop planDrop(const QDropEvent& event) const;
    // Returns the one local file a drag carries over the sound file's field, else nothing.
    QString droppedSoundFile(const QDropEvent& event) const;
    // Does showSoundFile's work; fieldShowsJob tells that the audio field holds the job's value
    // rather than the sound's, so a sound file keeps it as the reserve to give back.
    void applySoundFile(bool fieldShowsJob);
    // Enables Plan... once the job has a plan and shows the plan in the plan view when it is open.
    void showPlan();

    std::unique_ptr<Ui::MainWindow> m_form;
    std::unique_ptr<QtUiPort> m_port;
    std::unique_ptr<FilePicker> m_picker;
    core::Job m_job;
    WindowMemory m_memory;
    engine::SourceTableCache m_sourceTables; // read once per path for the exact size and Fit
    std::optional<engine::FinalSize> m_exactSize; // the last exact size shown, for the plan view
    std::optional<core::JobSettings> m_keptSettings; // see keepSettingsShown
    QString m_typedAudioKbps;           // the reserve typed before a sound file took the field's place
    QString m_soundPath;                // the sound file path last read
    std::optional<int32_t> m_soundKbps; // its average Kbps, rounded up, when it can be copied
    QString m_soundInfo;                // its codec and Kbps, or why it cannot be copied
    bool m_exchanging = false;
    bool m_copying = false;
    QPointer<PlanWindow> m_planWindow; // a child window, deleted when closed
    std::optional<engine::PlanViewModel> m_madePlan; // a quality-mode Make's levels, until the job changes
};

} // namespace app
