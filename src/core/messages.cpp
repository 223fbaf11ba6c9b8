#include "core/messages.h"

#include "core/format_thousands.h"

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

Message nothingFits(int64_t neededBytes, int64_t availableBytes)
{
    return {MessageId::NothingFits, "Even all Low Motion groups need " + formatMegabytes(neededBytes) +
                                        " MB; the target holds " + formatMegabytes(availableBytes) + " MB."};
}

Message soundOpenFailed(const std::string& path, const std::string& detail)
{
    return {MessageId::SoundOpenFailed, "Could not read the sound file\r" + path + "\r" + detail};
}

Message soundHasNoAudio(const std::string& path)
{
    return {MessageId::SoundHasNoAudio, "The sound file holds no audio stream\r" + path};
}

Message soundCodecRefused(const std::string& codec)
{
    return {MessageId::SoundCodecRefused, "An AVI does not carry " + codec +
                                              " sound well; convert it to MP3, MP2, AC-3, DTS or PCM first."};
}

Message finalAviVerified(int64_t frames)
{
    return {MessageId::FinalAviVerified, "Final AVI verified: " + std::to_string(frames) + " frames"};
}

Message finalAviDiffers(int64_t framesHeld, int64_t framesPlanned, int64_t differenceCount,
                        const std::vector<FinalDifference>& listed)
{
    std::string text;
    if (framesHeld < framesPlanned)
        text = "Final AVI cut short: it holds " + std::to_string(framesHeld) + " of " +
               std::to_string(framesPlanned) + " planned frames";
    if (differenceCount > 0) {
        if (!text.empty())
            text += '\r';
        text += "Final AVI differs from its plan in " + std::to_string(differenceCount);
        text += differenceCount == 1 ? " place:" : " places:";
    }
    for (const FinalDifference& d : listed) {
        std::string frame = "\rframe ";
        frame += std::to_string(d.frame) + " (group " + std::to_string(d.group) + "): ";
        switch (d.kind) {
        case FinalDifference::Kind::StreamHeader:
            text += "\rstream header differs from the one Create writes";
            break;
        case FinalDifference::Kind::Format:
            text += "\rformat differs from the Fast Motion AVI's";
            break;
        case FinalDifference::Kind::FrameCount:
            text += '\r';
            text += std::to_string(d.found) + " frames, " + std::to_string(d.planned) + " planned";
            break;
        case FinalDifference::Kind::Size:
            text += frame + std::to_string(d.found) + " bytes, " + std::to_string(d.planned) + " planned";
            break;
        case FinalDifference::Kind::Bytes:
            text += frame + "other bytes than planned";
            break;
        case FinalDifference::Kind::SoundCount:
            text +=
                "\rsound: " + std::to_string(d.found) + " chunks, " + std::to_string(d.planned) + " planned";
            break;
        case FinalDifference::Kind::SoundChunk:
            text += "\rsound chunk " + std::to_string(d.frame) + ": other bytes than the sound file's";
            break;
        case FinalDifference::Kind::KeyFlag:
            text += frame;
            text += d.found != 0 ? "key frame, planned as delta frame" : "delta frame, planned as key frame";
            break;
        }
    }
    if (differenceCount > static_cast<int64_t>(listed.size())) {
        text += "\r... and " + std::to_string(differenceCount - static_cast<int64_t>(listed.size()));
        text += " more";
    }
    return {MessageId::FinalAviDiffers, text};
}

Question differentTotalFrames(int64_t lmFrames, int64_t fmFrames)
{
    return {QuestionId::DifferentTotalFrames,
            "FM and LM-AVI have different total frames (LM: " + std::to_string(lmFrames) + " / FM: " +
                std::to_string(fmFrames) +
                ")\rCheck your videos for possible frameshift-errors\rContinue (only if this is intended) ?"};
}

} // namespace core::messages
