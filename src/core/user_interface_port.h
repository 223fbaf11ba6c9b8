#pragma once

#include "core/messages.h"

#include <cstdint>
#include <memory>
#include <string>

namespace core {

// Running totals of one Create, shown by the progress display. Bytes are 64-bit so films
// above 2 GB count right.
struct ProgressStatistics {
    int64_t fmSeconds = 0;  // seconds of film taken from the Fast Motion AVI (high-motion groups)
    int64_t fmBytes = 0;    // sample bytes of those groups
    int64_t lmSeconds = 0;  // seconds of film taken from the Low Motion AVI
    int64_t lmBytes = 0;    // sample bytes of those groups
    int64_t totalBytes = 0; // sample bytes written to the Final AVI, whatever the source
    bool operator==(const ProgressStatistics&) const = default;
};

// Where one encode stands, for the progress display.
struct EncodeProgress {
    int64_t framesDone = 0;     // frames encoded, over all passes
    int64_t framesTotal = 0;    // frames of all passes
    int32_t pass = 1;           // the pass running, from 1
    int32_t passes = 1;
    double framesPerSecond = 0; // encoding speed so far
    int64_t secondsLeft = -1;   // expected time to the end; -1 while unknown
    std::string step;           // the step of a longer job this encode is; empty for a lone encode
    bool operator==(const EncodeProgress&) const = default;
};

// The progress display of one Create: shown from creation to destruction.
class ProgressPort {
public:
    virtual ~ProgressPort() = default;
    // Sets the bar's range and step.
    virtual void setRange(int32_t lower, int32_t upper, int32_t step) = 0;
    // Moves the bar to position and updates the percentage shown; returns the previous position.
    virtual int32_t setPosition(int32_t position) = 0;
    // Shows the five running totals.
    virtual void setStatistics(const ProgressStatistics& statistics) = 0;
    // Shows an encode's speed and time left in place of the totals; displays without room for
    // them show the position only.
    virtual void setEncodeProgress(const EncodeProgress& progress) { (void)progress; }
    // Handles every pending user event, returning when none is left, on cancel or on quit.
    // With allowEscape, the Escape key cancels.
    virtual void pumpMessages(bool allowEscape) = 0;
    // True once the person asked to abort; never returns to false.
    virtual bool cancelled() const = 0;
    // Shows the totals of a run that went through every group, just before the display closes.
    // A display that closes at once anyway (the progress window) keeps its last update.
    virtual void showCompleted(const ProgressStatistics& totals) { (void)totals; }
};

// What the engine needs from a person: messages, one kind of question, a busy indicator and a
// progress display. The main window, the batch front end and the tests implement it.
class UiPort {
public:
    virtual ~UiPort() = default;
    // Shows a modal message with one OK button.
    virtual void showMessage(const Message& message) = 0;
    // Asks a Yes/No question; returns true for Yes.
    virtual bool askYesNo(const Question& question) = 0;
    // Shows the busy cursor; calls nest and are balanced by endBusy.
    virtual void beginBusy() = 0;
    // Restores the cursor that showed before the matching beginBusy.
    virtual void endBusy() = 0;
    // Creates and shows the progress display; it closes when the returned object is destroyed.
    virtual std::unique_ptr<ProgressPort> openProgress() = 0;
    // Returns how the texts beyond the fixed message formats write numbers; plain unless the
    // port follows a locale.
    virtual const NumberFormat& numbers() const { return plainNumbers(); }
};

// Shows the busy cursor for its lifetime.
class BusyCursor {
public:
    explicit BusyCursor(UiPort& ui) : m_ui(ui) { m_ui.beginBusy(); }
    ~BusyCursor() { m_ui.endBusy(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    UiPort& m_ui;
};

} // namespace core
