#pragma once

#include "core/job.h"
#include "core/user_interface_port.h"
#include "video/avi_writer.h"

#include <cstdint>
#include <optional>
#include <string>

namespace engine {

enum class CommandOutcome {
    Completed, // ran to its end (possibly after a message it went on from)
    Ended,     // ended at a message or a No answer
    Aborted,   // Create only: the person aborted the copy
};

// Measures the FM source (and the Ending AVI), sets the job's counts, marks it analysed and
// refreshes the estimate. Closes every source it opened on every path. Returns Completed when
// it ran to its end, Ended when it stopped at a message.
CommandOutcome runAnalyze(core::Job& job, core::UiPort& ui);

// Opens the Ending AVI at endingPath and returns the sum of its video stream's sample sizes, as
// Analyze measures it. Shows the opening messages or "ERROR DURING STREAM-READ!!!" and returns
// nothing when that fails. The file is closed again on every path.
[[nodiscard]] std::optional<int64_t> measureEndingBytes(const std::string& endingPath, core::UiPort& ui);

struct CreateOptions {
    video::AviWriterOptions writerOptions;
};

// Builds the Final AVI from FM, LM (and the Ending AVI) as the plan says, then writes the
// statistics file when asked for. Closes every source it opened on every path. Returns
// Completed when the copy (and the statistics file asked for) succeeded, Ended otherwise: an
// aborted copy too, which the caller that offered the abort can tell for itself.
CommandOutcome runCreate(core::Job& job, core::UiPort& ui, const CreateOptions& options = {});

} // namespace engine
