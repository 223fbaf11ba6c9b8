#include "core/messages.h"

namespace core::messages {

Message couldNotOpenAvi(const std::string& path)
{
    return {MessageId::CouldNotOpenAvi, "Could not open AVI\r" + path};
}

Message unableToOpenFile() { return {MessageId::UnableToOpenFile, "Unable to open file"}; }

Message noVideoStream() { return {MessageId::NoVideoStream, "AVI has no video-stream"}; }

Message formatTooLarge() { return {MessageId::FormatTooLarge, "Format too large"}; }

Message streamReadError() { return {MessageId::StreamReadError, "ERROR DURING STREAM-READ!!!"}; }

Message keyframeInconsistency(int32_t frame)
{
    return {MessageId::KeyframeInconsistency, "Keyframe inconcistency at " + std::to_string(frame)};
}

Message lmTooShort(int64_t requiredFrames)
{
    return {MessageId::LmTooShort,
            "LM-AVI is too short.\rIt must have at least " + std::to_string(requiredFrames) + " frames"};
}

Message fmTooShort(int64_t requiredFrames)
{
    return {MessageId::FmTooShort,
            "FM-AVI is too short.\rIt must have at least " + std::to_string(requiredFrames) + " frames"};
}

Message differentKeyframeDistances()
{
    return {MessageId::DifferentKeyframeDistances, "AVIs have different keyframe distances"};
}

Message frameRateUnusable(uint32_t rate, uint32_t scale)
{
    return {MessageId::FrameRateUnusable, "Frame rate of " + std::to_string(rate) + "/" + std::to_string(scale) +
                                              " is below one frame per second and cannot be used"};
}

Message keyframeDistanceTooShort(int32_t keyframeDistance, uint32_t framesPerSecond)
{
    return {MessageId::KeyframeDistanceTooShort,
            "Keyframe distance of " + std::to_string(keyframeDistance) + " frames is shorter than one second (" +
                std::to_string(framesPerSecond) + " fps)"};
}

Message selectFastMotionAvi() { return {MessageId::SelectFastMotionAvi, "Please select a Fast Motion AVI!!!"}; }

Message selectLowMotionAvi() { return {MessageId::SelectLowMotionAvi, "Please select a Low Motion AVI!!!"}; }

Message formatSizeTooLargeFm()
{
    return {MessageId::FormatSizeTooLargeFm, "AVIStreamFormatSize too large (FM)!"};
}

Message formatSizeTooLargeLm()
{
    return {MessageId::FormatSizeTooLargeLm, "AVIStreamFormatSize too large (LM)!"};
}

Message formatSizeTooLargeEnding()
{
    return {MessageId::FormatSizeTooLargeEnding, "AVIStreamFormatSize too large (VLB)!"};
}

Message finalOpenFailed(const std::string& systemError)
{
    return {MessageId::FinalOpenFailed, "AVIFileOpen unsuccessful!\r" + systemError};
}

Message destinationIsSource(const std::string& destination, const std::string& sourceName,
                            const std::string& path)
{
    return {MessageId::DestinationIsSource, "The " + destination + " is the " + sourceName + ":\r" + path};
}

Message finalCreateStreamFailed()
{
    return {MessageId::FinalCreateStreamFailed, "AVIFileCreateStream unsuccessful!"};
}

Message finalSetFormatFailed() { return {MessageId::FinalSetFormatFailed, "AVIStreamSetFormat unsuccessful!"}; }

Message finalWriteFailed(const std::string& systemError)
{
    return {MessageId::FinalWriteFailed, "Writing the Final AVI failed!\r" + systemError};
}

Message framesMissing(int64_t missingFrames)
{
    return {MessageId::FramesMissing, std::to_string(missingFrames) +
                                          " frames could not be read from the sources.\r"
                                          "They are missing from the Final AVI."};
}

Message statFileCreateFailed(const std::string& statPath)
{
    return {MessageId::StatFileCreateFailed, "Failed to create file '" + statPath + "'"};
}

Message statFileWriteFailed(const std::string& statPath, const std::string& systemError)
{
    return {MessageId::StatFileWriteFailed, "Failed to write file '" + statPath + "'\r" + systemError};
}

Message profileSaveFailed() { return {MessageId::ProfileSaveFailed, "An error occured during save!!!"}; }

Message profileNotText(const std::string& path)
{
    return {MessageId::ProfileNotText,
            "The profile was not saved: this file is not a text file and stays as it is.\r" + path};
}

Message pictureNotSaved(const std::string& path)
{
    return {MessageId::PictureNotSaved, "The picture could not be saved:\r" + path};
}

Question differentTotalFrames(int64_t lmFrames, int64_t fmFrames)
{
    return {QuestionId::DifferentTotalFrames,
            "FM and LM-AVI have different total frames (LM: " + std::to_string(lmFrames) + " / FM: " +
                std::to_string(fmFrames) +
                ")\rCheck your videos for possible frameshift-errors\rContinue (only if this is intended) ?"};
}

} // namespace core::messages
