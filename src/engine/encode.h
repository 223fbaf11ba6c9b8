#pragma once

#include "core/job.h"
#include "core/user_interface_port.h"
#include "engine/commands.h"
#include "media/video_media.h"

#include <cstdint>
#include <string>

namespace engine {

// What an encode made.
struct EncodeResult {
    int64_t frames = 0;
    int64_t keyFrames = 0;
    int64_t fileBytes = 0;   // the AVI file's size
    int64_t sampleBytes = 0; // the compressed frames alone
    int64_t kbps = 0;        // sampleBytes over the film's duration, 1 Kbps = 128 bytes per second
    double seconds = 0;      // wall time of the encode
};

struct LowMotionEncodeRequest {
    std::string sourcePath; // the film to encode; empty: the Fast Motion AVI itself
    int32_t kbps = 0;       // the Low Motion bitrate; 0: the estimate for the job's settings
    int32_t passes = 1;     // 1 or 2
    int32_t threads = 0;    // 0: the encoder's choice
    bool replaceAgreed = false; // the person already agreed to replace an existing LM (in a save picker)
};

// Encodes the job's Low Motion AVI (settings.lowMotionPath) from the source film with the Fast
// Motion AVI's frame count, key frames, size, rate, FourCC and handler, at the requested
// bitrate or, without one, at the estimate that Analyze shows for the job (Analyze runs first
// then, with its messages). Refuses, before writing anything, an FM whose codec or layout the
// encode cannot reproduce, a source of another frame count or rate, and an LM path that is one of
// the job's inputs; asks before replacing an existing LM. Writes a temporary file beside the LM
// and renames it at the end, so an abort or a failure leaves neither. Returns Completed with
// result filled, Ended after a message or a No, Aborted when the person aborted.
CommandOutcome runEncodeLowMotion(core::Job& job, const LowMotionEncodeRequest& request, media::VideoMedia& media,
                                  core::UiPort& ui, EncodeResult& result);

struct FastMotionEncodeRequest {
    std::string sourcePath;
    std::string fastMotionPath;
    int32_t kbps = 0;
    int32_t keySeconds = 10;  // a key frame every this many seconds (rounded to whole frames)
    media::VideoCodec codec = media::VideoCodec::Mpeg4;
    std::string fourcc;       // empty: XVID for MPEG-4, H264 for H.264
    int32_t passes = 1;
    int32_t threads = 0;
};

// Encodes the source film into a Fast Motion AVI with key frames exactly every keySeconds and
// nowhere else, at kbps, so Analyze takes its layout. Files are handled as runEncodeLowMotion does.
CommandOutcome runEncodeFastMotion(const FastMotionEncodeRequest& request, media::VideoMedia& media, core::UiPort& ui,
                                   EncodeResult& result);

// Returns the codec that a FourCC names (case ignored), or nothing for one that cannot be encoded.
std::optional<media::VideoCodec> codecOfFourcc(uint32_t fourcc);

} // namespace engine
