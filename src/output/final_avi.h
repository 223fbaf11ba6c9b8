#pragma once

#include "core/frame_table.h"
#include "core/user_interface_port.h"
#include "video/avi_writer.h"
#include "video/source.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace output {

// What writeFinalAvi needs besides the sources.
struct FinalAviRequest {
    int32_t framesPerGroup = 0; // the keyframe distance: frames copied per plan record
    int32_t framePos = 0;       // film frame where the Ending AVI starts (its frame 0)
    int32_t groupSeconds = 0;   // seconds per group, for the progress totals
    std::string finalPath;
    video::AviWriterOptions writerOptions;
    // The sound written after the video stream, its chunks read from audioReader; none when null.
    const video::AudioTrack* audio = nullptr;
    video::AudioChunkReader* audioReader = nullptr;
};

// The source a plan record's frames are copied from.
enum class FrameSource { LowMotion, FastMotion, Ending };

// Where the frames of one plan record come from: the source, and the source position of the
// group's first frame (negative, or past the source's end, where the source has no such frame).
struct GroupFrames {
    FrameSource source = FrameSource::FastMotion;
    int64_t firstIndex = 0;
};

// Returns where the group starting at film frame groupStart with this choice is copied from: LM
// for Low, the Ending AVI (its frame 0 at film frame framePos) for Ending, FM for High,
// SmoothedHigh and unknown codes.
GroupFrames groupFrames(core::GroupChoice choice, int64_t groupStart, int32_t framePos);

// Writes the Final AVI at request.finalPath: one video stream with the FM stream's information
// and 40-byte format (and the request's sound, interleaved with it), then every plan record's group copied
// from LM (choice 0), FM (1, 2 and unknown codes) or the Ending AVI (3), each frame with its source's key
// flag. Every read is offered room for the largest frame of the three sources, so no frame is dropped for its
// size; positions a source does not have (past its end, before the ending's start) add nothing. Shows
// progress and polls for abort before every thirtieth group; tells each source which frames it
// will read, so skipped groups are not read. Stores the sample bytes copied in finalBytes once the
// copy started. Returns 1 when every group was copied and written; 0 after a failed check, a
// failed write, flush or finish (message with the system's text; the copy ends there), frames a
// source lists but cannot deliver (one message with their number) or an abort (no message). The
// sources stay open; the Final AVI stays on disk in every case.
// What the progress totals count a group as.
enum class GroupTally { None, LowMotion, FastMotion };

// One group of a plan over any number of sources: the source its frames come from (an index into
// the writer's sources) and the source position of its first frame.
struct PlannedGroup {
    int32_t source = 0;
    int64_t firstIndex = 0;
    GroupTally tally = GroupTally::None;
};

// A plan of the Final AVI over any number of sources: every group's source, framesPerGroup frames
// each, and the source whose stream header and format the Final AVI takes.
struct SourcePlan {
    int32_t framesPerGroup = 0;
    int32_t streamSource = 0;
    std::vector<PlannedGroup> groups;
};

// The described plan as a SourcePlan over the sources {LM, FM, Ending} (FrameSource's order):
// Low from LM, High, smoothed and unknown codes from FM, Ending from the Ending AVI; the header
// from FM.
SourcePlan classicPlan(const core::PlanTable& planTable, int32_t framesPerGroup, int32_t framePos);

// Writes the Final AVI at request.finalPath from sources as plan says (request.framesPerGroup and
// framePos unused): as the function below does for the described plan, for any number of sources.
// A null source gives no frames (reported as missing). The header source's format is at most 40
// bytes.
int32_t writeFinalAvi(std::span<video::Source* const> sources, const SourcePlan& plan,
                      const FinalAviRequest& request, int64_t& finalBytes, core::UiPort& ui);

int32_t writeFinalAvi(video::Source* fmStream, video::Source* lmStream, video::Source* endingStream,
                      const core::PlanTable& planTable, const FinalAviRequest& request, int64_t& finalBytes,
                      core::UiPort& ui);

} // namespace output
