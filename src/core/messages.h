#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace core {

// Every text the tool shows a person, so the window, the batch front end and the tests agree.
// A '\r' inside a text breaks the line.
enum class MessageId {
    CouldNotOpenAvi,
    UnableToOpenFile,
    NoVideoStream,
    FormatTooLarge,
    StreamReadError,
    KeyframeInconsistency,
    LmTooShort,
    FmTooShort,
    DifferentKeyframeDistances,
    FrameRateUnusable,
    KeyframeDistanceTooShort,
    SelectFastMotionAvi,
    SelectLowMotionAvi,
    FormatSizeTooLargeFm,
    FormatSizeTooLargeLm,
    FormatSizeTooLargeEnding,
    FinalOpenFailed,
    DestinationIsSource,
    FinalCreateStreamFailed,
    FinalSetFormatFailed,
    FinalWriteFailed,
    FramesMissing,
    StatFileCreateFailed,
    StatFileWriteFailed,
    ProfileSaveFailed,
    ProfileNotText,
    PictureNotSaved,
    NothingFits,
    FinalAviVerified,
    FinalAviDiffers,
    SoundOpenFailed,
    SoundHasNoAudio,
    SoundCodecRefused,
};

enum class QuestionId { DifferentTotalFrames };

// A modal message with one OK button.
struct Message {
    MessageId id;
    std::string text;
    bool operator==(const Message&) const = default;
};

// A modal question with Yes and No buttons.
struct Question {
    QuestionId id;
    std::string text;
    bool operator==(const Question&) const = default;
};

// One way a Final AVI differs from the plan it was built by, as verify lists it.
struct FinalDifference {
    enum class Kind {
        StreamHeader, // the stream header is not the one Create writes from the FM AVI's
        Format,       // the format is not the FM AVI's, padded to 40 bytes
        FrameCount,   // more frames than planned
        Size,         // a frame's size
        Bytes,        // a frame's bytes, at the planned size
        KeyFlag,      // a frame's key flag
        SoundCount,   // sound chunks held (found) and planned
        SoundChunk,   // a sound chunk's size or bytes (frame: the chunk's number)
    };
    Kind kind = Kind::Size;
    int64_t frame = -1; // frame of the Final AVI; -1 for the header, the format and the count
    int64_t group = -1; // its keyframe group in the plan
    int64_t found = 0;  // what the Final AVI holds: size, key flag (1 or 0) or frame count
    int64_t planned = 0;
    bool operator==(const FinalDifference&) const = default;
};

namespace messages {

Message couldNotOpenAvi(const std::string& path);
Message unableToOpenFile();
Message noVideoStream();
Message formatTooLarge();
Message streamReadError();
Message keyframeInconsistency(int32_t frame);
Message lmTooShort(int64_t requiredFrames);
Message fmTooShort(int64_t requiredFrames);
Message differentKeyframeDistances();
// The FM stream's rate is below one frame per second or its scale is 0.
Message frameRateUnusable(uint32_t rate, uint32_t scale);
// A keyframe group is shorter than one whole second, so no one-second window fits.
Message keyframeDistanceTooShort(int32_t keyframeDistance, uint32_t framesPerSecond);
Message selectFastMotionAvi();
Message selectLowMotionAvi();
Message formatSizeTooLargeFm();
Message formatSizeTooLargeLm();
Message formatSizeTooLargeEnding();
// The Final AVI cannot be created; systemError is the system's reason.
Message finalOpenFailed(const std::string& systemError);
// A file Create would write (destination, "Final AVI" or "statistics file") is the source named
// (sourceName, "Fast Motion AVI", ...); path is the written file's path.
Message destinationIsSource(const std::string& destination, const std::string& sourceName,
                            const std::string& path);
Message finalCreateStreamFailed();
Message finalSetFormatFailed();
// Writing, flushing or finishing the Final AVI failed; systemError is the system's error text.
Message finalWriteFailed(const std::string& systemError);
// Frames the sources claim to have could not be read during the copy.
Message framesMissing(int64_t missingFrames);
Message statFileCreateFailed(const std::string& statPath);
Message statFileWriteFailed(const std::string& statPath, const std::string& systemError);
Message profileSaveFailed();
// The file chosen for a profile holds binary data (a film, say), so the save leaves it alone.
Message profileNotText(const std::string& path);
// An export of the plan view could not be written to path.
Message pictureNotSaved(const std::string& path);

// No High Bitrate Limit fits the target: even the plan with the most Low Motion groups needs
// neededBytes (its sample bytes and the audio reserve); the target holds availableBytes.
Message nothingFits(int64_t neededBytes, int64_t availableBytes);
// Every frame of the Final AVI, and its header and format, are as planned.
Message finalAviVerified(int64_t frames);
// The Final AVI is not what the plan makes: it holds framesHeld of framesPlanned frames, and
// differs in differenceCount ways, the first of which are listed.
Message finalAviDiffers(int64_t framesHeld, int64_t framesPlanned, int64_t differenceCount,
                        const std::vector<FinalDifference>& listed);

// The sound file at path cannot be read; detail holds the reason.
Message soundOpenFailed(const std::string& path, const std::string& detail);
// The file at path holds no sound.
Message soundHasNoAudio(const std::string& path);
// The sound's codec is not one an AVI carries well.
Message soundCodecRefused(const std::string& codec);

Question differentTotalFrames(int64_t lmFrames, int64_t fmFrames);

} // namespace messages

} // namespace core
