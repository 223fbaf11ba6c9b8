#pragma once

#include "core/number_format.h"

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
    SettingsProbablyDiffer,
    CodecNotEncodable,
    PackedBitstream,
    FourccNotOfCodec,
    FilmUnreadable,
    FrameCountsDiffer,
    FrameRatesDiffer,
    EstimateUnavailable,
    EncodeFailed,
    KeyFramesMoved,
    EncoderOutOfStep,
    FastMotionUnusable,
    FilmUnusable,
    SoundOpenFailed,
    SoundHasNoAudio,
    SoundCodecRefused,
    MakeNeedsSpace,
    MakeFailed,
};

enum class QuestionId { DifferentTotalFrames, QuitWithoutSaving, ReplaceFile };

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
// neededBytes (its sample bytes and the audio reserve); the target holds availableBytes. numbers
// writes the figures here and in the two verify messages.
Message nothingFits(int64_t neededBytes, int64_t availableBytes,
                    const NumberFormat& numbers = plainNumbers());
// Every frame of the Final AVI, and its header and format, are as planned.
Message finalAviVerified(int64_t frames, const NumberFormat& numbers = plainNumbers());
// The Final AVI is not what the plan makes: it holds framesHeld of framesPlanned frames, and
// differs in differenceCount ways, the first of which are listed.
Message finalAviDiffers(int64_t framesHeld, int64_t framesPlanned, int64_t differenceCount,
                        const std::vector<FinalDifference>& listed,
                        const NumberFormat& numbers = plainNumbers());

// More than half of the frames verify compared differ: the line added to finalAviDiffers.
Message settingsProbablyDiffer();

// The Fast Motion AVI's FourCC names no codec the encode can reproduce.
Message codecNotEncodable(const std::string& fourcc);
// The Fast Motion AVI keeps B-frames packed into the frames before them.
Message packedBitstream();
// A FourCC asked for an encode is not one of the codec's.
Message fourccNotOfCodec(const std::string& fourcc, const std::string& codec);
// The film at path cannot be read; reason is FFmpeg's explanation.
Message filmUnreadable(const std::string& path, const std::string& reason);
// The source film holds sourceFrames frames where the Fast Motion AVI holds fmFrames.
Message frameCountsDiffer(int64_t sourceFrames, int64_t fmFrames);
// The source film runs at sourceRate frames per second, the Fast Motion AVI at fmRate (texts).
Message frameRatesDiffer(const std::string& sourceRate, const std::string& fmRate);
// The estimate gives no Low Motion bitrate (label is what the window shows: "n/a" or "0").
Message estimateUnavailable(const std::string& label);
// An encode stopped; reason says why. Nothing was written.
Message encodeFailed(const std::string& what, const std::string& reason);
// The encoder gave frame foundFrame where dueFrame was due (or ended at foundFrame of dueFrame).
Message encoderOutOfStep(const std::string& what, int64_t foundFrame, int64_t dueFrame);
// The Fast Motion AVI gives no frames, frame rate or picture size to encode after.
Message fastMotionUnusable();
// The film at path gives no frame count or frame rate to encode.
Message filmUnusable(const std::string& path);
// The encoder made frame a key frame where the layout has none (or the other way round).
Message keyFramesMoved(int64_t frame, bool madeKey);

// The sound file at path cannot be read; detail holds the reason.
Message soundOpenFailed(const std::string& path, const std::string& detail);
// The file at path holds no sound.
Message soundHasNoAudio(const std::string& path);
// The sound's codec is not one an AVI carries well.
Message soundCodecRefused(const std::string& codec);

// make's work folder needs neededBytes where folder has freeBytes.
Message makeNeedsSpace(int64_t neededBytes, const std::string& folder, int64_t freeBytes);
// make stopped; reason says why. Nothing was written.
Message makeFailed(const std::string& reason);

Question differentTotalFrames(int64_t lmFrames, int64_t fmFrames);
// The main window is closing with settings that were neither loaded nor saved as they are.
Question quitWithoutSaving();
// The file an encode writes exists already (what: "Low Motion AVI", ...).
Question replaceFile(const std::string& what, const std::string& path);

} // namespace messages

} // namespace core
