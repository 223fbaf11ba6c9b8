#pragma once

#include "core/user_interface_port.h"
#include "engine/commands.h"
#include "engine/level_choice.h"
#include "media/video_media.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace engine {

// How make builds the Final AVI.
enum class MakeMode {
    // Several constant-quantizer encodes of the film (the levels); each key-frame group is taken
    // from the level that makes the film's squared error smallest within the target.
    Quality,
    // The Fast Motion / Low Motion workflow done for the person: encode FM, Analyze, encode LM at
    // the estimate, Fit, Create with the sound, Verify.
    Classic,
};

// One level of the quality mode: a constant-quantizer encode, its key frames at keyQuantizer.
struct MakeLevel {
    int32_t quantizer = 0;
    int32_t keyQuantizer = 0; // equal to quantizer for a plain level
};

// What the sound step hands back.
struct PreparedSound {
    bool failed = false;  // a message told why; make ends
    bool aborted = false; // the person aborted; make ends
    std::string path;     // a file the Final AVI's sound is copied from (as --audio-file takes it);
                          // empty when the source holds no sound
};

// Prepares the source film's first sound stream for the Final AVI: given the source path, the
// audio Kbps and the work folder, returns a file that engine::openSound accepts (the source
// itself when an AVI carries its sound well, else an MP3 CBR at kbps written into the work
// folder), an empty path when the source has no sound, or failed after a message to ui. Any
// file it writes lives in the work folder, which make removes. The default (an empty function in
// MakeRequest) is prepareFinalSound.
using PrepareSound = std::function<PreparedSound(const std::string& sourcePath, int32_t kbps,
                                                 const std::string& workFolder, core::UiPort& ui)>;

// make's sound step: engine::prepareSourceSound with its progress shown ("Sound") and its
// failures told to ui.
PreparedSound prepareFinalSound(const std::string& sourcePath, int32_t kbps, const std::string& workFolder,
                                core::UiPort& ui);

// Returns the bytes free for a new file in folder, or nothing when it cannot be told. The default
// asks the file system.
using FreeSpaceQuery = std::function<std::optional<int64_t>(const std::string& folder)>;

struct MakeRequest {
    std::string sourcePath;
    std::string finalPath;
    int32_t finalSizeMB = 0; // as the window's "Final size (MB)": targetBytes counts it
    int32_t audioKbps = 128; // MP3 bitrate when the sound has to be encoded
    media::VideoCodec codec = media::VideoCodec::Mpeg4;
    MakeMode mode = MakeMode::Quality;
    std::vector<MakeLevel> levels; // quality mode; empty: the default levels (see defaultLevels)
    int32_t keySeconds = 0;        // seconds per key-frame group; 0: the default (kDefaultKeySeconds)
    std::string workFolder;        // empty: a new folder beside the Final AVI
    bool keepWork = false;         // leave the work folder (and its level encodes) in place
    bool replaceAgreed = false;    // an existing Final AVI may be replaced without asking
    int32_t threads = 0;           // per encoder; 0: the encoder's choice
    PrepareSound prepareSound;     // empty: prepareFinalSound
    FreeSpaceQuery freeSpace;      // empty: the file system's free space
};

inline constexpr int32_t kDefaultKeySeconds = 10;

// How many bytes of the Final AVI each level gave.
struct MakeLevelUse {
    MakeLevel level;
    int32_t groups = 0;
    int64_t bytes = 0; // the groups' chunks and index entries in the Final AVI
};

// Wall time of one step: "sound", "probe", "encode", "choose", "write", "verify" (quality mode);
// "sound", "fm", "analyze", "lm", "fit", "create", "verify", "psnr" (classic mode). A step that
// runs more than once adds up.
struct MakeStepTime {
    std::string step;
    double seconds = 0;
};

// What make made.
struct MakeResult {
    MakeMode mode = MakeMode::Quality;
    int64_t finalFileBytes = 0;
    int64_t targetBytes = 0;
    double psnr = 0; // as ffmpeg's psnr filter computes its average against the source
    int32_t groups = 0;
    int32_t encodes = 0;              // encodes made (levels, or FM and each LM)
    std::vector<MakeLevelUse> levels; // quality mode: every level encoded, in the order encoded
    std::vector<int32_t> groupLevels; // quality mode: groupLevels[g] indexes levels
    // Quality mode: costs[g][l], group g taken from levels[l], and the bytes the groups had.
    std::vector<std::vector<LevelCost>> costs;
    int64_t groupBudget = 0;
    std::vector<MakeStepTime> seconds; // per step, in order
    // Classic mode: the encodes (in the work folder, gone unless kept) and the fitted limit.
    std::string fastMotionPath;
    std::string lowMotionPath;
    int32_t highBitrateLimit = 0;
    std::string workFolder; // where the level encodes were made
};

// Makes the Final AVI at request.finalPath from the film at request.sourcePath so that the
// whole file, sound and indexes included, is at most targetBytes for finalSizeMB. Refuses a Final
// AVI that is the source, too little free space for the work folder ("The encodes need N MB in
// FOLDER where M MB are free."), and asks before replacing an existing Final AVI unless
// replaceAgreed. Every step opens its own progress display (ui.openProgress()); the encodes name
// their step in EncodeProgress::step ("Probing", "Encoding levels", "Sound", ...). The
// Final AVI is written to a temporary file and renamed at the end, so an abort (Aborted) or a
// failure (Ended, after a message) leaves no Final AVI, and no work folder unless keepWork.
CommandOutcome runMake(const MakeRequest& request, media::VideoMedia& media, core::UiPort& ui,
                       MakeResult& result);

// Returns the default levels for a film whose finest constant quantizer that fits is qStar:
// 2, and qStar-1 .. qStar+1 (within 2 .. 31) each both plain and with its key frames at
// max(2, round(q / 3)): up to seven encodes.
std::vector<MakeLevel> defaultLevels(int32_t qStar);

} // namespace engine
