// Encodes generated films with FFmpeg's encoders and checks the results with ffprobe and ffmpeg.
#include "engine/encode.h"
#include "engine/verify.h"
#include "avi_builder.h"
#include "media.h"
#include "recording_ui_port.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

using namespace test_support;
using core::MessageId;

std::string dir;

// Makes path with ffmpeg from a noisy test picture of 75 frames (3 s at 25 fps); output says how.
std::string film(const std::string& name, const std::string& picture, const std::string& output)
{
    const std::string path = dir + "/" + name;
    int exitCode = 0;
    const std::string log =
        runCommand("ffmpeg -nostdin -v error -y -f lavfi -i '" + picture + ",noise=alls=12:allf=t+u' " + output +
                       " " + shellQuote(path) + " 2>&1",
                   exitCode);
    if (exitCode != 0)
        throw std::runtime_error(log);
    return path;
}

std::vector<bool> keyFlags(const std::string& path)
{
    std::vector<bool> keys;
    for (const ProbePacket& packet : probePackets(path))
        keys.push_back(packet.key);
    return keys;
}

class Encode : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = freshTempDir("encode");
        const std::string picture = "testsrc2=s=160x120:r=25";
        source = film("source.mkv", picture, "-frames:v 75 -c:v ffv1");
        largerSource = film("larger.mkv", picture + ",scale=176:144", "-frames:v 75 -c:v ffv1");
        // Key frames at 0, 7, 30 and 60: the layout need not be regular.
        ffmpegMpeg4 = film("mpeg4.avi", picture,
                           "-frames:v 75 -c:v mpeg4 -vtag DX50 -g 30 -bf 0 -force_key_frames \"expr:eq(n,7)\" -b:v 600k");
        ffmpegH264 = film("h264.avi", picture, "-frames:v 75 -c:v libx264 -g 25 -bf 0 -x264-params scenecut=0 -b:v 600k");
        RecordingUiPort ui;
        engine::EncodeResult result;
        ownFm = dir + "/own.avi";
        engine::FastMotionEncodeRequest request;
        request.sourcePath = source;
        request.fastMotionPath = ownFm;
        request.kbps = 600;
        request.keySeconds = 1;
        if (engine::runEncodeFastMotion(request, media::ffmpegMedia(), ui, result) != engine::CommandOutcome::Completed)
            throw std::runtime_error("encode-fm failed");
    }

    // Encodes the LM of fm from source into lm.avi at 150 Kbps.
    engine::CommandOutcome encode(core::Job& job, const std::string& fm, const std::string& from, int32_t passes = 1,
                                  int32_t kbps = 150)
    {
        job.settings.fastMotionPath = fm;
        job.settings.lowMotionPath = lm;
        return engine::runEncodeLowMotion(job, {.sourcePath = from, .kbps = kbps, .passes = passes, .threads = 0},
                                          media::ffmpegMedia(), ui, result);
    }

    static inline std::string source, largerSource, ffmpegMpeg4, ffmpegH264, ownFm;
    const std::string lm = dir + "/lm.avi";
    RecordingUiPort ui;
    engine::EncodeResult result;
};

TEST_F(Encode, KeepsTheFastMotionKeyFramesAndCreateTakesTheResult)
{
    const std::tuple<const char*, std::string, std::string, int32_t, bool> cases[] = {
        {"FM of encode-fm, itself as source, two passes", ownFm, "", 2, true},
        {"FM of encode-fm, lossless source", ownFm, source, 1, true},
        {"ffmpeg's MPEG-4 FM with a key frame off the grid, larger source", ffmpegMpeg4, largerSource, 1, false},
        {"ffmpeg's H.264 FM, two passes", ffmpegH264, source, 2, true},
    };
    for (const auto& [name, fm, from, passes, regular] : cases) {
        SCOPED_TRACE(name);
        std::filesystem::remove(lm);
        core::Job job;
        core::applyOpeningDefaults(job.settings);
        ASSERT_EQ(encode(job, fm, from, passes), engine::CommandOutcome::Completed) << ui.messages.back().text;
        EXPECT_EQ(keyFlags(lm), keyFlags(fm));
        EXPECT_EQ(decodeErrors(lm), "");
        EXPECT_EQ(result.frames, 75);
        EXPECT_EQ(result.fileBytes, static_cast<int64_t>(std::filesystem::file_size(lm)));
        EXPECT_EQ(result.kbps, (result.sampleBytes + 192) / 384) << "Kbps over 3 seconds";
        EXPECT_NEAR(result.kbps, 150, passes == 2 ? 20 : 150) << "bitrate reached";
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 6) << "files left beside the LM";
        if (!regular)
            continue;
        job.settings.finalPath = dir + "/final.avi";
        job.settings.finalSizeMB = 1;
        ASSERT_EQ(engine::runCreate(job, ui), engine::CommandOutcome::Completed) << ui.messages.back().text;
        EXPECT_EQ(engine::verifyFinalAvi(job.settings, ui).status, engine::VerifyStatus::Verified);
        std::filesystem::remove(job.settings.finalPath);
    }
}

TEST_F(Encode, RefusesBeforeWritingAndLeavesNothingWhenAborted)
{
    const std::string mjpg = dir + "/mjpg.avi";
    buildAvi(mjpg, {.frames = gridFrames(75, 25, 900, 300), .compression = core::fourcc("MJPG")});
    const std::string shorter = film("shorter.mkv", "testsrc2=s=160x120:r=25", "-frames:v 60 -c:v ffv1");
    const std::string faster = film("faster.mkv", "testsrc2=s=160x120:r=30", "-frames:v 75 -c:v ffv1");
    const std::tuple<const char*, std::string, std::string, int32_t, MessageId> cases[] = {
        {"the LM is the source", ownFm, lm, 150, MessageId::DestinationIsSource},
        {"fewer frames", ownFm, shorter, 150, MessageId::FrameCountsDiffer},
        {"another rate", ownFm, faster, 150, MessageId::FrameRatesDiffer},
        {"a FourCC without encoder", mjpg, source, 150, MessageId::CodecNotEncodable},
        {"no estimate for a size of 0 MB", ownFm, "", 0, MessageId::EstimateUnavailable},
    };
    std::filesystem::copy_file(source, lm, std::filesystem::copy_options::overwrite_existing); // stands for itself as the source row's film
    for (const auto& [name, fm, from, kbps, message] : cases) {
        SCOPED_TRACE(name);
        core::Job job;
        ui.answers = {true};
        ui.messages.clear();
        EXPECT_EQ(encode(job, fm, from, 1, kbps), engine::CommandOutcome::Ended);
        ASSERT_FALSE(ui.messages.empty());
        EXPECT_EQ(ui.messages.back().id, message) << ui.messages.back().text;
        EXPECT_FALSE(std::filesystem::exists(lm + ".encoding"));
        std::filesystem::remove(lm);
    }

    core::Job job;
    ui.answers.clear();
    ui.abortAtPump = 0;
    EXPECT_EQ(encode(job, ownFm, source), engine::CommandOutcome::Aborted);
    EXPECT_FALSE(std::filesystem::exists(lm));
    ui.abortAtPump = -1;
    std::ofstream(lm) << "kept";
    EXPECT_EQ(encode(job, ownFm, source), engine::CommandOutcome::Ended) << "replacing was not answered";
    EXPECT_EQ(ui.questions.back().id, core::QuestionId::ReplaceFile);
    EXPECT_EQ(readWholeFile(lm).size(), 4u);
    std::filesystem::remove(lm);
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        EXPECT_TRUE(entry.path().extension() == ".avi" || entry.path().extension() == ".mkv") << entry.path();
}

// One decode feeds encoders at two constant quantizers; each reports every frame's squared error,
// the coarser one more, with key frames only where asked.
TEST_F(Encode, SharesOneDecodeAmongEncodersThatMeasureTheirError)
{
    std::string errorText;
    const std::unique_ptr<media::VideoDecoder> decoder = media::openVideoDecoder(largerSource, errorText);
    ASSERT_TRUE(decoder) << errorText;
    decoder->setOutputSize(160, 120);
    std::vector<std::unique_ptr<media::VideoEncoder>> encoders;
    for (const media::VideoCodec codec : {media::VideoCodec::Mpeg4, media::VideoCodec::H264}) {
        for (const int32_t quantizer : {2, 31}) {
            media::EncoderSettings settings;
            settings.codec = codec;
            settings.width = 160;
            settings.height = 120;
            settings.mode = media::RateMode::ConstantQuantizer;
            settings.quantizer = quantizer;
            settings.measureError = true;
            encoders.push_back(media::openVideoEncoder(settings, errorText));
            ASSERT_TRUE(encoders.back()) << errorText;
        }
    }
    std::vector<std::vector<media::EncodedPacket>> packets(encoders.size());
    media::Picture picture;
    for (int64_t i = 0; decoder->next(picture) == media::DecodeStatus::Ok; ++i) {
        for (size_t e = 0; e < encoders.size(); ++e)
            ASSERT_EQ(encoders[e]->encode(picture, i, i % 30 == 7, packets[e]), media::EncodeStatus::Ok);
    }
    std::vector<uint64_t> errors;
    for (size_t e = 0; e < encoders.size(); ++e) {
        ASSERT_EQ(encoders[e]->finish(packets[e]), media::EncodeStatus::Ok);
        ASSERT_EQ(packets[e].size(), 75u);
        errors.push_back(0);
        for (const media::EncodedPacket& packet : packets[e]) {
            EXPECT_EQ(packet.key, packet.frameIndex == 0 || packet.frameIndex % 30 == 7) << packet.frameIndex;
            EXPECT_TRUE(packet.errorMeasured) << e;
            errors.back() += packet.squaredError[0];
        }
    }
    EXPECT_LT(errors[0], errors[1]);
    EXPECT_LT(errors[2], errors[3]);
}

} // namespace
