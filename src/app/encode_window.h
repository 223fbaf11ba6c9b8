#pragma once

#include "app/abortable_window.h"
#include "app/file_picker.h"
#include "core/job.h"
#include "core/user_interface_port.h"
#include "engine/encode.h"

#include <QDialog>
#include <QPointer>

#include <memory>

namespace Ui {
class EncodeWindow;
class EncodeProgressWindow;
} // namespace Ui

namespace app {

// Asks what the Low Motion AVI is encoded from, at which bitrate and into which file: the Fast
// Motion AVI, the shown estimate and the Low Motion path of the job at first. OK with an empty
// Low Motion path opens the save picker; the window stays open when it is cancelled.
class EncodeWindow : public QDialog {
    Q_OBJECT

public:
    EncodeWindow(const core::JobSettings& settings, FilePicker& picker, QWidget* parent = nullptr);
    ~EncodeWindow() override;

    // The encode asked for: no source when it is the Fast Motion AVI, 0 Kbps for the estimate.
    engine::LowMotionEncodeRequest request() const;
    QString lowMotionPath() const;

public slots:
    void pickSource();
    void pickLowMotionAvi();
    void accept() override;

private:
    std::unique_ptr<Ui::EncodeWindow> m_form;
    FilePicker& m_picker;
    QString m_fastMotionPath;
    QString m_pickedPath; // the Low Motion path the save picker gave, whose replacing it confirmed
};

// The progress of one encode: a bar with the percentage in the title, the pass, the speed and
// the time left, and Abort; Escape aborts while the pump allows it.
class EncodeProgressWindow : public AbortableWindow, public core::ProgressPort {
    Q_OBJECT

public:
    explicit EncodeProgressWindow(QWidget* parent = nullptr);
    ~EncodeProgressWindow() override;

    void setRange(int32_t lower, int32_t upper, int32_t step) override;
    int32_t setPosition(int32_t position) override;
    void setStatistics(const core::ProgressStatistics&) override {}
    // Shows "Pass P of N: F frames per second, M:SS left".
    void setEncodeProgress(const core::EncodeProgress& progress) override;
    void pumpMessages(bool allowEscape) override { pumpEvents(allowEscape); }
    bool cancelled() const override { return aborted(); }

private:
    std::unique_ptr<Ui::EncodeProgressWindow> m_form;
};

// Passes messages, questions and the busy cursor to another port and shows an encode's
// progress in an EncodeProgressWindow over owner.
class EncodeUiPort : public core::UiPort {
public:
    EncodeUiPort(core::UiPort& inner, QWidget* owner) : m_inner(inner), m_owner(owner) {}
    void showMessage(const core::Message& message) override { m_inner.showMessage(message); }
    bool askYesNo(const core::Question& question) override { return m_inner.askYesNo(question); }
    void beginBusy() override { m_inner.beginBusy(); }
    void endBusy() override { m_inner.endBusy(); }
    std::unique_ptr<core::ProgressPort> openProgress() override;

private:
    core::UiPort& m_inner;
    QPointer<QWidget> m_owner;
};

} // namespace app
