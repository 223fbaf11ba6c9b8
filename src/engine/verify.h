#pragma once

#include "core/job.h"
#include "core/messages.h"
#include "core/user_interface_port.h"
#include "output/final_avi.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace engine {

enum class VerifyStatus {
    Verified, // header, format and every frame as planned
    Differs,  // differences found, or the file is cut short
    Ended,    // the check could not run; a message told why
    Aborted,  // the person aborted it
};

// What verify found.
struct VerifyReport {
    static constexpr size_t kListedDifferences = 20;

    VerifyStatus status = VerifyStatus::Ended;
    int32_t plannedFrames = 0;
    int32_t finalFrames = 0; // frames the Final AVI holds
    int64_t differenceCount = 0;
    int64_t differingFrames = 0;                    // frames of the Final AVI with at least one difference
    std::vector<core::FinalDifference> differences; // the first kListedDifferences, in file order

    // Returns the report as a person reads it: "Final AVI verified: N frames", or the frames it
    // holds when it is cut short and the differences listed, its numbers written by numbers, and when
    // more than half of the frames compared differ, that the settings are probably not the ones the
    // file was made with.
    core::Message message(const core::NumberFormat& numbers = core::plainNumbers()) const;
};

// Rebuilds the plan of settings from its sources exactly as Create does and checks the Final AVI
// at settings.finalPath against it: the stream header and format as Create writes them, the frame
// count, and every frame's size, bytes and key flag against the planned source frame. Reads the
// Final AVI and the planned source frames front to back in large blocks. Shows progress every
// thirty groups and stops when the person aborts. Shows Create's messages, or those of opening
// the Final AVI, and returns Ended where it cannot check.
VerifyReport verifyFinalAvi(const core::JobSettings& settings, core::UiPort& ui);

// Checks the Final AVI at finalPath against plan over the AVIs at sourcePaths (in the plan's
// source order) and the sound file at soundPath (none when empty), as verifyFinalAvi checks the
// described plan: the header and format of the plan's stream source, every frame's size, bytes
// and key flag, the frame count and every sound chunk. Returns Ended after the opening messages.
VerifyReport verifyPlannedAvi(const std::string& finalPath, std::span<const std::string> sourcePaths,
                              const output::SourcePlan& plan, const std::string& soundPath, core::UiPort& ui);

} // namespace engine
