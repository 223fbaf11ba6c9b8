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

Message nothingFits(int64_t neededBytes, int64_t availableBytes, const NumberFormat& numbers)
{
    return {MessageId::NothingFits, "Even all Low Motion groups need " + numbers.megabytes(neededBytes) +
                                        " MB; the target holds " + numbers.megabytes(availableBytes) +
                                        " MB."};
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

Message finalAviVerified(int64_t frames, const NumberFormat& numbers)
{
    return {MessageId::FinalAviVerified, "Final AVI verified: " + numbers.whole(frames) + " frames"};
}

Message finalAviDiffers(int64_t framesHeld, int64_t framesPlanned, int64_t differenceCount,
                        const std::vector<FinalDifference>& listed, const NumberFormat& numbers)
{
    std::string text;
    if (framesHeld < framesPlanned)
        text = "Final AVI cut short: it holds " + numbers.whole(framesHeld) + " of " +
               numbers.whole(framesPlanned) + " planned frames";
    if (differenceCount > 0) {
        if (!text.empty())
            text += '\r';
        text += "Final AVI differs from its plan in " + numbers.whole(differenceCount);
        text += differenceCount == 1 ? " place:" : " places:";
    }
    for (const FinalDifference& d : listed) {
        std::string frame = "\rframe ";
        frame += numbers.whole(d.frame) + " (group " + numbers.whole(d.group) + "): ";
        switch (d.kind) {
        case FinalDifference::Kind::StreamHeader:
            text += "\rstream header differs from the one Create writes";
            break;
        case FinalDifference::Kind::Format:
            text += "\rformat differs from the Fast Motion AVI's";
            break;
        case FinalDifference::Kind::FrameCount:
            text += '\r';
            text += numbers.whole(d.found) + " frames, " + numbers.whole(d.planned) + " planned";
            break;
        case FinalDifference::Kind::Size:
            text += frame + numbers.whole(d.found) + " bytes, " + numbers.whole(d.planned) + " planned";
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
        text += "\r... and " + numbers.whole(differenceCount - static_cast<int64_t>(listed.size()));
        text += " more";
    }
    return {MessageId::FinalAviDiffers, text};
}

Message settingsProbablyDiffer()
{
    return {MessageId::SettingsProbablyDiffer, "More than half of the frames differ: the settings probably "
                                               "differ from the ones the Final AVI was made with."};
}

Message codecNotEncodable(const std::string& fourcc)
{
    return {MessageId::CodecNotEncodable,
            "The Fast Motion AVI's FourCC " + fourcc +
                " cannot be encoded here.\rMPEG-4 Part 2 (XVID, DIVX, DX50, FMP4, MP4V) and H.264 (H264, X264, AVC1) can."};
}

Message packedBitstream()
{
    return {MessageId::PackedBitstream,
            "The Fast Motion AVI stores B-frames as packed bitstream.\rIts frames cannot be reproduced one for one."};
}

Message fourccNotOfCodec(const std::string& fourcc, const std::string& codec)
{
    return {MessageId::FourccNotOfCodec, "The FourCC " + fourcc + " is not one of " + codec + "'s"};
}

Message filmUnreadable(const std::string& path, const std::string& reason)
{
    return {MessageId::FilmUnreadable, "Could not read the film\r" + path + "\r" + reason};
}

Message frameCountsDiffer(int64_t sourceFrames, int64_t fmFrames)
{
    return {MessageId::FrameCountsDiffer, "The source has " + std::to_string(sourceFrames) +
                                              " frames, the Fast Motion AVI " + std::to_string(fmFrames) +
                                              ".\rBoth must have the same frames."};
}

Message frameRatesDiffer(const std::string& sourceRate, const std::string& fmRate)
{
    return {MessageId::FrameRatesDiffer, "The source runs at " + sourceRate + " frames per second, the Fast Motion AVI at " +
                                             fmRate + ".\rBoth must have the same frame rate."};
}

Message estimateUnavailable(const std::string& label)
{
    return {MessageId::EstimateUnavailable,
            "The Low Motion Bitrate is " + label +
                ": the high-motion groups and the audio already fill the Final size.\r"
                "Raise the Final size or the High Bitrate Limit, lower the audio bitrate, or give a bitrate."};
}

Message makeNeedsSpace(int64_t neededBytes, const std::string& folder, int64_t freeBytes)
{
    const auto mb = [](int64_t bytes) { return std::to_string((bytes + 1048575) / 1048576); };
    return {MessageId::MakeNeedsSpace, "The encodes need " + mb(neededBytes) + " MB in\r" + folder + "\rwhere " +
                                           std::to_string(freeBytes / 1048576) + " MB are free."};
}

Message makeFailed(const std::string& reason)
{
    return {MessageId::MakeFailed, "The Final AVI could not be made: " + reason + "\rNothing was written."};
}

Message encodeFailed(const std::string& what, const std::string& reason)
{
    return {MessageId::EncodeFailed, "The " + what + " could not be encoded: " + reason + "\rNothing was written."};
}

Message encoderOutOfStep(const std::string& what, int64_t foundFrame, int64_t dueFrame)
{
    return {MessageId::EncoderOutOfStep, "The " + what + " could not be encoded: the encoder gave frame " +
                                             std::to_string(foundFrame) + " where frame " + std::to_string(dueFrame) +
                                             " was due.\rNothing was written."};
}

Message fastMotionUnusable()
{
    return {MessageId::FastMotionUnusable,
            "The Fast Motion AVI gives no frames, frame rate or picture size to encode after"};
}

Message filmUnusable(const std::string& path)
{
    return {MessageId::FilmUnusable, "The film\r" + path + "\rgives no frame count or frame rate to encode"};
}

Message keyFramesMoved(int64_t frame, bool madeKey)
{
    return {MessageId::KeyFramesMoved,
            "The encoder made frame " + std::to_string(frame) +
                (madeKey ? " a key frame where the Fast Motion AVI has none."
                         : " a delta frame where the Fast Motion AVI has a key frame.") +
                "\rNothing was written."};
}

Question replaceFile(const std::string& what, const std::string& path)
{
    return {QuestionId::ReplaceFile, "The " + what + " exists:\r" + path + "\rReplace it?"};
}

Question differentTotalFrames(int64_t lmFrames, int64_t fmFrames)
{
    return {QuestionId::DifferentTotalFrames,
            "FM and LM-AVI have different total frames (LM: " + std::to_string(lmFrames) + " / FM: " +
                std::to_string(fmFrames) +
                ")\rCheck your videos for possible frameshift-errors\rContinue (only if this is intended) ?"};
}

Question quitWithoutSaving()
{
    return {QuestionId::QuitWithoutSaving, "Quit without saving the settings as a profile?"};
}

} // namespace core::messages
