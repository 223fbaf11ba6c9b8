#pragma once

#include "avi_builder.h"
#include "engine/commands.h"
#include "media.h"
#include "recording_ui_port.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <tuple>

namespace engine_test {

// Writes dir/name.avi: count frames (3000 bytes for a key, 700 between) at rate/scale, with key
// frames every distance frames except at noKey; returns its path.
inline std::string buildFilm(const std::string& dir, const std::string& name, int32_t count, int32_t distance,
                             int32_t noKey = -1, uint32_t rate = 25, uint32_t scale = 1,
                             int32_t formatBytes = 40)
{
    std::vector<test_support::BuiltFrame> frames = test_support::gridFrames(count, distance, 3000, 700);
    if (noKey >= 0)
        frames[static_cast<size_t>(noKey)].key = false;
    const std::string path = dir + "/" + name + ".avi";
    test_support::buildAvi(path,
                           {.frames = frames, .rate = rate, .scale = scale, .formatBytes = formatBytes});
    return path;
}

// A job from the opening defaults holding values no command produces, to tell which fields a run
// wrote, and pointed at its films: no ending if ending is empty, no stop if stopAfter is 0.
inline core::Job markedJob(const std::string& fm, const std::string& lm, const std::string& ending,
                           int32_t framePos, int32_t stopAfter)
{
    core::Job job;
    core::applyOpeningDefaults(job.settings);
    job.state.fastMotionInfo.dwLength = 4444;
    job.state.keyframeDistance = 777;
    job.state.totalFrames = 888;
    job.state.groupSeconds = 99;
    job.state.endingBytes = 123456789;
    job.state.fastMotionFrames.setSize(3);
    job.state.lowMotionFrames.setSize(3);
    job.settings.lowMotionBitrateText = "old label";
    job.settings.fastMotionPath = fm;
    job.settings.lowMotionPath = lm;
    job.settings.endingPath = ending;
    job.settings.endingEnabled = !ending.empty();
    job.settings.framePos = framePos;
    job.settings.stopAfterEnabled = stopAfter > 0;
    job.settings.stopAfterFrames = stopAfter;
    return job;
}

// Runs Create or Analyze on a marked job and checks that it left no file, busy cursor or progress
// window open; returns how the command ended.
inline engine::CommandOutcome runChecked(bool create, core::Job& job, test_support::RecordingUiPort& ui)
{
    const auto openFiles = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    const auto filesBefore = openFiles();
    const engine::CommandOutcome outcome = create ? engine::runCreate(job, ui) : engine::runAnalyze(job, ui);
    EXPECT_EQ(openFiles(), filesBefore) << "a file stayed open";
    EXPECT_EQ(std::tuple(ui.busyCalls, ui.busyDepth, ui.progressOpen), std::tuple(1, 0, 0))
        << "busy calls, busy depth, open progress windows";
    // Create runs on an analysed job and leaves what only Analyze measures.
    EXPECT_TRUE(!create || (job.state.analysed && job.state.endingBytes == 123456789 &&
                            job.settings.lowMotionBitrateText == "old label"));
    return outcome;
}

} // namespace engine_test
