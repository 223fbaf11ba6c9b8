#pragma once

#include "app/abortable_window.h"
#include "app/file_picker.h"
#include "core/job.h"
#include "core/user_interface_port.h"
#include "engine/make.h"
#include "engine/plan_view_model.h"

#include <QDialog>
#include <QPointer>

#include <memory>

namespace Ui {
class MakeWindow;
class EncodeProgressWindow;
} // namespace Ui

namespace app {

// Asks for what Make builds: the source film, the Final AVI, its size, the sound's Kbps and the
// mode. Opens with the job's Final AVI, final size and audio Kbps; OK with an empty Final AVI
// path opens the save picker and the window stays open when it is cancelled.
class MakeWindow : public QDialog {
    Q_OBJECT

public:
    MakeWindow(const core::JobSettings& settings, FilePicker& picker, QWidget* parent = nullptr);
    ~MakeWindow() override;

    // The job asked for. Classic mode keeps its work folder, since the main window then names the
    // Fast and Low Motion AVIs in it.
    engine::MakeRequest request() const;

public slots:
    void pickSource();
    void pickFinalAvi();
    void accept() override;

private:
    std::unique_ptr<Ui::MakeWindow> m_form;
    FilePicker& m_picker;
    QString m_pickedPath; // the Final AVI path the save picker gave, whose replacing it confirmed
};

// The one progress window of a whole Make: the running step's name and time left, its bar, the
// whole job's percentage in the title, and Abort, which ends any step. The engine reports each
// step on its own, so the job's percentage counts the steps a mode takes as equal shares: the steps
// done, and the running step's part of its share.
class MakeProgressWindow : public AbortableWindow {
    Q_OBJECT

public:
    // expectedSteps: the progress displays the mode opens (more are taken as they come).
    explicit MakeProgressWindow(int32_t expectedSteps, QWidget* parent = nullptr);
    ~MakeProgressWindow() override;

    // A new step starts with an empty bar.
    void beginStep();
    void setRange(int32_t lower, int32_t upper);
    void setPosition(int32_t position);
    void setStep(const core::EncodeProgress& progress);
    void pumpMessages(bool allowEscape) { pumpEvents(allowEscape); }
    bool cancelled() const { return aborted(); }
    // The whole job's percentage shown, 0..100.
    int percent() const { return m_percent; }

private:
    // Shows the whole job's percentage, which never goes back.
    void showPercent();

    std::unique_ptr<Ui::EncodeProgressWindow> m_form;
    int32_t m_expectedSteps = 1;
    int32_t m_stepsBegun = 0;
    int m_percent = 0;
};

// Passes messages, questions and the busy cursor to another port and shows every step's progress
// in one MakeProgressWindow over owner, open from the first step to the port's end.
class MakeUiPort : public core::UiPort {
public:
    MakeUiPort(core::UiPort& inner, QWidget* owner, engine::MakeMode mode);
    ~MakeUiPort() override;
    void showMessage(const core::Message& message) override { m_inner.showMessage(message); }
    bool askYesNo(const core::Question& question) override { return m_inner.askYesNo(question); }
    void beginBusy() override { m_inner.beginBusy(); }
    void endBusy() override { m_inner.endBusy(); }
    std::unique_ptr<core::ProgressPort> openProgress() override;
    MakeProgressWindow& window() { return *m_window; }

private:
    core::UiPort& m_inner;
    std::unique_ptr<MakeProgressWindow> m_window;
};

// The line the main window shows after a Make: "Final AVI written: B bytes of T (P %), PSNR X dB,
// G groups from L encodes".
QString makeStatusText(const engine::MakeResult& result);

// The plan view's picture of a quality-mode Make: each key-frame group's level as its band, with
// the group's bytes as the Final AVI at finalPath holds them. Empty for classic mode or a Final AVI
// that cannot be read.
engine::PlanViewModel madePlanView(const engine::MakeResult& result, const std::string& finalPath);

} // namespace app
