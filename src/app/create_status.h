#pragma once

#include "app/qt_ui_port.h"
#include "engine/commands.h"

#include <QString>

#include <cstdint>

namespace app {

// How a Create ended, as the main window's status line tells it.
enum class CreateEnd {
    Written, // the Final AVI is complete
    Aborted, // the person aborted the copy; the Final AVI holds the groups copied so far
    Failed,  // the Create ended at a message, before or during the copy
};

// What the status line says about one Create.
struct CreateSummary {
    CreateEnd end = CreateEnd::Failed;
    int64_t finalFileBytes = 0; // size of the Final AVI on disk
    int32_t groupsCopied = 0;   // keyframe groups in the Final AVI after an abort
    int64_t elapsedMs = 0;      // the Create's running time
    QString endMessage;         // first line of the last message the Create showed, if any
};

// Tells an abort from the other ends of a Create by its progress window: the engine reports
// both as Ended.
CreateEnd createEnd(engine::CommandOutcome outcome, const ProgressRecord& progress);

// Returns the status line, its numbers in the person's locale: "Final AVI written: 695.3 MB in
// 0:07" (1 MB = 1,048,576 bytes, minutes:seconds), "Create aborted: the Final AVI holds the 12
// groups copied, 42.0 MB", or for a Create that ended otherwise the first line of its last message
// ("Create ended: Writing the Final AVI failed!"; "Create ended: nothing was written" after a No).
QString createStatusText(const CreateSummary& summary);

} // namespace app
