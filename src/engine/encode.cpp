#include "engine/encode.h"

#include "engine/frame_meter.h"
#include "engine/source_tables.h"
#include "video/avi_writer.h"
#include "video/file_io.h"
#include "video/riff.h"
#include "video/source.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace engine {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::optional<uint32_t> fourccOfText(const std::string& text)
{
    if (text.size() != 4)
        return std::nullopt;
    uint32_t code = 0;
    for (size_t i = 0; i < 4; ++i)
        code |= static_cast<uint32_t>(static_cast<unsigned char>(text[i])) << (8 * i);
    return code;
}

std::string rateText(uint32_t rate, uint32_t scale)
{
    if (scale == 1)
        return std::to_string(rate);
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", scale == 0 ? 0.0 : double(rate) / scale);
    return text;
}

// The files an encode writes besides its result: the temporary AVI and the two-pass statistics
// (libx264 adds its own next to them). Removes them all when it ends, whatever happened.
class EncodeFiles {
public:
    explicit EncodeFiles(const std::string& destination)
        : m_destination(destination), m_temporary(destination + ".encoding"), m_stats(destination + ".passlog")
    {
    }
    ~EncodeFiles()
    {
        std::error_code ignored; // a file that never came to be
        for (const std::string& path : {m_temporary, m_stats, m_stats + ".temp", m_stats + ".mbtree",
                                        m_stats + ".mbtree.temp"})
            fs::remove(path, ignored);
    }
    EncodeFiles(const EncodeFiles&) = delete;
    EncodeFiles& operator=(const EncodeFiles&) = delete;

    const std::string& temporary() const { return m_temporary; }
    const std::string& stats() const { return m_stats; }
    // Puts the finished temporary file in the destination's place; false with reason on failure.
    bool commit(std::string& reason) const
    {
        std::error_code error;
        fs::rename(m_temporary, m_destination, error);
        reason = error.message();
        return !error;
    }

private:
    std::string m_destination;
    std::string m_temporary;
    std::string m_stats;
};

// Everything one encode into an AVI needs, decided before anything is written.
struct EncodePlan {
    std::string what;            // "Low Motion AVI" or "Fast Motion AVI", for the messages
    std::string sourcePath;
    std::string destination;
    core::AviStreamInfo info;    // the stream header; the writer sets the length and buffer size
    std::vector<uint8_t> format; // the BITMAPINFOHEADER
    std::vector<uint8_t> keys;   // 1 where frame i must be a key frame
    media::EncoderSettings settings;
    int32_t passes = 1;
};

int32_t longestKeyDistance(const std::vector<uint8_t>& keys)
{
    int32_t longest = 1;
    int32_t last = 0;
    for (size_t i = 1; i <= keys.size(); ++i) {
        if (i == keys.size() || keys[i] != 0) {
            longest = std::max(longest, static_cast<int32_t>(i) - last);
            last = static_cast<int32_t>(i);
        }
    }
    return longest;
}

// Why a pass stopped.
enum class PassEnd { Done, Failed, Aborted };

// Runs one pass: decodes the source, encodes every frame and, in the last pass, writes the
// packets into writer, checking that each key flag is where the plan has it.
PassEnd runPass(const EncodePlan& plan, int32_t pass, media::VideoMedia& media, video::AviWriter* writer,
                FrameMeter& meter, core::UiPort& ui, EncodeResult& result)
{
    const auto fail = [&](const std::string& reason) {
        ui.showMessage(core::messages::encodeFailed(plan.what, reason));
        return PassEnd::Failed;
    };
    std::string errorText;
    std::unique_ptr<media::VideoDecoder> decoder = media.openDecoder(plan.sourcePath, errorText);
    if (!decoder)
        return fail(errorText);
    decoder->setOutputSize(plan.settings.width, plan.settings.height);
    media::EncoderSettings settings = plan.settings;
    settings.pass = plan.passes == 1 ? 0 : pass;
    std::unique_ptr<media::VideoEncoder> encoder = media.openEncoder(settings, errorText);
    if (!encoder)
        return fail(errorText);

    const auto frames = static_cast<int64_t>(plan.keys.size());
    std::vector<media::EncodedPacket> packets;
    int64_t written = 0;
    // Writes the packets ready, in frame order; false after a message.
    const auto writePackets = [&]() -> bool {
        for (const media::EncodedPacket& packet : packets) {
            if (packet.frameIndex != written || written >= frames) {
                ui.showMessage(core::messages::encoderOutOfStep(plan.what, packet.frameIndex, written));
                return false;
            }
            if (packet.key != (plan.keys[static_cast<size_t>(written)] != 0)) {
                ui.showMessage(core::messages::keyFramesMoved(written, packet.key));
                return false;
            }
            if (writer != nullptr) {
                if (writer->writeSample(static_cast<int32_t>(written), packet.data, packet.key) != video::AviStatus::Ok) {
                    ui.showMessage(core::messages::encodeFailed(plan.what, writer->errorText()));
                    return false;
                }
                result.sampleBytes += static_cast<int64_t>(packet.data.size());
                result.keyFrames += packet.key ? 1 : 0;
            }
            ++written;
        }
        packets.clear();
        return true;
    };

    media::Picture picture;
    for (int64_t i = 0; i < frames; ++i) {
        const media::DecodeStatus status = decoder->next(picture);
        if (status == media::DecodeStatus::Failed)
            return fail(decoder->errorText());
        if (status == media::DecodeStatus::End) {
            ui.showMessage(core::messages::frameCountsDiffer(i, frames));
            return PassEnd::Failed;
        }
        if (encoder->encode(picture, i, plan.keys[static_cast<size_t>(i)] != 0, packets) != media::EncodeStatus::Ok)
            return fail(encoder->errorText());
        if (!writePackets())
            return PassEnd::Failed;
        if (!meter.frameDone(pass))
            return PassEnd::Aborted;
    }
    if (encoder->finish(packets) != media::EncodeStatus::Ok)
        return fail(encoder->errorText());
    if (!writePackets())
        return PassEnd::Failed;
    if (written != frames) {
        ui.showMessage(core::messages::encoderOutOfStep(plan.what, written, frames));
        return PassEnd::Failed;
    }
    return PassEnd::Done;
}

// Encodes the plan into a temporary file and renames it to the destination when complete.
CommandOutcome encodeToAvi(const EncodePlan& plan, media::VideoMedia& media, core::UiPort& ui, EncodeResult& result)
{
    const Clock::time_point started = Clock::now();
    result = {};
    const EncodeFiles files(plan.destination);
    EncodePlan run = plan;
    run.settings.statsPath = files.stats();
    run.settings.longestKeyDistance = longestKeyDistance(plan.keys);
    const auto frames = static_cast<int64_t>(plan.keys.size());
    FrameMeter meter(ui, frames * plan.passes, {}, plan.passes);

    video::AviCreateResult created = video::AviWriter::create(files.temporary());
    if (created.status != video::AviStatus::Ok) {
        ui.showMessage(core::messages::encodeFailed(plan.what, created.errorText));
        return CommandOutcome::Ended;
    }
    video::AviWriter& writer = *created.writer;
    if (writer.createStream(plan.info) != video::AviStatus::Ok || writer.setFormat(plan.format) != video::AviStatus::Ok) {
        ui.showMessage(core::messages::encodeFailed(plan.what, writer.errorText()));
        return CommandOutcome::Ended;
    }
    for (int32_t pass = 1; pass <= plan.passes; ++pass) {
        const bool last = pass == plan.passes;
        const PassEnd end = runPass(run, pass, media, last ? &writer : nullptr, meter, ui, result);
        if (end != PassEnd::Done)
            return end == PassEnd::Aborted ? CommandOutcome::Aborted : CommandOutcome::Ended;
    }
    if (writer.finish() != video::AviStatus::Ok) {
        ui.showMessage(core::messages::encodeFailed(plan.what, writer.errorText()));
        return CommandOutcome::Ended;
    }
    created.writer.reset();
    std::string reason;
    if (!files.commit(reason)) {
        ui.showMessage(core::messages::encodeFailed(plan.what, reason));
        return CommandOutcome::Ended;
    }
    std::error_code ignored; // the size is only reported
    result.frames = frames;
    result.fileBytes = static_cast<int64_t>(fs::file_size(plan.destination, ignored));
    const double filmSeconds = double(frames) * plan.info.dwScale / plan.info.dwRate;
    result.kbps = filmSeconds > 0 ? std::llround(double(result.sampleBytes) / 128.0 / filmSeconds) : 0;
    result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    return CommandOutcome::Completed;
}

// Refuses a destination that is one of the inputs (by file identity, so links count) and asks
// before replacing an existing file. Returns false after a message or a No.
bool destinationIsFree(const std::string& what, const std::string& destination,
                       const std::vector<std::pair<std::string, std::string>>& inputs, core::UiPort& ui,
                       bool replaceAgreed = false)
{
    const std::optional<video::FileIdentity> identity = video::identityOfPath(destination);
    if (!identity)
        return true; // nothing there yet
    for (const auto& [name, path] : inputs) {
        if (!path.empty() && video::identityOfPath(path) == identity) {
            ui.showMessage(core::messages::destinationIsSource(what, name, destination));
            return false;
        }
    }
    return replaceAgreed || ui.askYesNo(core::messages::replaceFile(what, destination));
}

// Opens the source film and checks its frame count and rate against the wanted ones; false
// after a message.
bool checkSource(media::VideoMedia& media, const std::string& path, int64_t frames, uint32_t rate, uint32_t scale,
                 core::UiPort& ui)
{
    std::string errorText;
    const std::unique_ptr<media::VideoDecoder> decoder = media.openDecoder(path, errorText);
    if (!decoder) {
        ui.showMessage(core::messages::filmUnreadable(path, errorText));
        return false;
    }
    const media::FilmInfo& film = decoder->info();
    // Rates written in other units (29.97 for 30000/1001) count as the same within 0.01 %.
    const double filmRate = double(film.rate) / film.scale;
    const double wanted = double(rate) / scale;
    if (std::fabs(filmRate - wanted) > wanted * 1e-4) {
        ui.showMessage(core::messages::frameRatesDiffer(rateText(film.rate, film.scale), rateText(rate, scale)));
        return false;
    }
    if (film.frameCount != frames) {
        ui.showMessage(core::messages::frameCountsDiffer(film.frameCount, frames));
        return false;
    }
    return true;
}

// True when the first frame carries the user data with which some MPEG-4 encoders mark B-frames
// packed into the frame before them ("DivX503b1393p": the trailing 'p').
bool marksPackedBitstream(std::span<const uint8_t> frame)
{
    const std::string_view bytes(reinterpret_cast<const char*>(frame.data()), frame.size());
    for (size_t at = bytes.find("DivX"); at != std::string_view::npos; at = bytes.find("DivX", at + 1)) {
        size_t end = at + 4;
        while (end < bytes.size() && std::isalnum(static_cast<unsigned char>(bytes[end])) != 0)
            ++end;
        if (end > at + 4 && bytes[end - 1] == 'p')
            return true;
    }
    return false;
}

uint32_t readU32(std::span<const uint8_t> bytes, size_t at)
{
    if (at + 4 > bytes.size())
        return 0;
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// Reads the Low Motion bitrate the estimate gives for the job, running Analyze; 0 after a message.
int32_t estimatedKbps(core::Job& job, core::UiPort& ui)
{
    if (runAnalyze(job, ui) != CommandOutcome::Completed)
        return 0;
    const std::string& label = job.settings.lowMotionBitrateText;
    const int32_t kbps = label == "n/a" ? 0 : std::atoi(label.c_str());
    if (kbps <= 0)
        ui.showMessage(core::messages::estimateUnavailable(label));
    return std::max(kbps, 0);
}

} // namespace

std::optional<media::VideoCodec> codecOfFourcc(uint32_t fourcc)
{
    std::string text = core::fourccText(fourcc);
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* name : {"XVID", "DIVX", "DX50", "FMP4", "MP4V", "3IV2"}) {
        if (text == name)
            return media::VideoCodec::Mpeg4;
    }
    for (const char* name : {"H264", "X264", "AVC1"}) {
        if (text == name)
            return media::VideoCodec::H264;
    }
    return std::nullopt;
}

CommandOutcome runEncodeLowMotion(core::Job& job, const LowMotionEncodeRequest& request, media::VideoMedia& media,
                                  core::UiPort& ui, EncodeResult& result)
{
    const core::JobSettings& settings = job.settings;
    EncodePlan plan;
    plan.what = "Low Motion AVI";
    plan.destination = settings.lowMotionPath;
    plan.sourcePath = request.sourcePath.empty() ? settings.fastMotionPath : request.sourcePath;
    plan.passes = std::clamp(request.passes, 1, 2);
    {
        std::optional<video::Source> fm = video::openVideoStream(settings.fastMotionPath, ui);
        if (!fm || !video::readStreamInfo(plan.info, *fm, ui))
            return CommandOutcome::Ended;
        plan.format = fm->format();
        const uint32_t fourcc = readU32(plan.format, 16);
        const std::optional<media::VideoCodec> codec = codecOfFourcc(fourcc);
        if (!codec) {
            ui.showMessage(core::messages::codecNotEncodable(core::fourccText(fourcc)));
            return CommandOutcome::Ended;
        }
        SourceTable table;
        readSourceTable(table, *fm);
        if (table.frames.count() == 0) {
            ui.showMessage(core::messages::fastMotionUnusable());
            return CommandOutcome::Ended;
        }
        if (*codec == media::VideoCodec::Mpeg4) {
            std::vector<uint8_t> first(static_cast<size_t>(std::max(table.frames[0].size, 0)));
            int32_t read = 0;
            if (fm->readSample(0, first, read) == video::AviStatus::Ok &&
                marksPackedBitstream(std::span(first).first(static_cast<size_t>(read)))) {
                ui.showMessage(core::messages::packedBitstream());
                return CommandOutcome::Ended;
            }
        }
        plan.keys.resize(static_cast<size_t>(table.frames.count()));
        for (int32_t i = 0; i < table.frames.count(); ++i)
            plan.keys[static_cast<size_t>(i)] = table.frames[i].isKey != 0 ? 1 : 0;
        plan.settings.codec = *codec;
        plan.settings.fourcc = fourcc;
        plan.settings.width = static_cast<int32_t>(readU32(plan.format, 4));
        plan.settings.height = std::abs(static_cast<int32_t>(readU32(plan.format, 8)));
    }
    plan.settings.rate = plan.info.dwRate;
    plan.settings.scale = plan.info.dwScale;
    plan.settings.threads = request.threads;
    if (plan.settings.rate == 0 || plan.settings.scale == 0 || plan.settings.width <= 0 || plan.settings.height <= 0) {
        ui.showMessage(core::messages::fastMotionUnusable());
        return CommandOutcome::Ended;
    }
    if (!checkSource(media, plan.sourcePath, static_cast<int64_t>(plan.keys.size()), plan.info.dwRate,
                     plan.info.dwScale, ui))
        return CommandOutcome::Ended;
    const int32_t kbps = request.kbps > 0 ? request.kbps : estimatedKbps(job, ui);
    if (kbps <= 0)
        return CommandOutcome::Ended;
    if (!destinationIsFree(plan.what, plan.destination,
                           {{"Fast Motion AVI", settings.fastMotionPath},
                            {"source film", plan.sourcePath},
                            {"Ending AVI", settings.endingEnabled ? settings.endingPath : std::string()}},
                           ui, request.replaceAgreed))
        return CommandOutcome::Ended;
    plan.settings.bitsPerSecond = int64_t{kbps} * 1024;
    return encodeToAvi(plan, media, ui, result);
}

CommandOutcome runEncodeFastMotion(const FastMotionEncodeRequest& request, media::VideoMedia& media, core::UiPort& ui,
                                   EncodeResult& result)
{
    EncodePlan plan;
    plan.what = "Fast Motion AVI";
    plan.destination = request.fastMotionPath;
    plan.sourcePath = request.sourcePath;
    plan.passes = std::clamp(request.passes, 1, 2);
    const bool h264 = request.codec == media::VideoCodec::H264;
    const std::string fourccName = request.fourcc.empty() ? (h264 ? "H264" : "XVID") : request.fourcc;
    const std::optional<uint32_t> fourcc = fourccOfText(fourccName);
    if (!fourcc || codecOfFourcc(*fourcc) != request.codec) {
        ui.showMessage(core::messages::fourccNotOfCodec(fourccName, h264 ? "H.264" : "MPEG-4 Part 2"));
        return CommandOutcome::Ended;
    }
    std::string errorText;
    media::FilmInfo film;
    {
        const std::unique_ptr<media::VideoDecoder> decoder = media.openDecoder(plan.sourcePath, errorText);
        if (!decoder) {
            ui.showMessage(core::messages::filmUnreadable(plan.sourcePath, errorText));
            return CommandOutcome::Ended;
        }
        film = decoder->info();
    }
    const int64_t distance = std::llround(double(std::max(request.keySeconds, 1)) * film.rate / film.scale);
    if (film.frameCount <= 0 || film.frameCount > INT32_MAX || distance < 1) {
        ui.showMessage(core::messages::filmUnusable(plan.sourcePath));
        return CommandOutcome::Ended;
    }
    if (!destinationIsFree(plan.what, plan.destination, {{"source film", plan.sourcePath}}, ui))
        return CommandOutcome::Ended;

    plan.keys.resize(static_cast<size_t>(film.frameCount));
    for (size_t i = 0; i < plan.keys.size(); i += static_cast<size_t>(distance))
        plan.keys[i] = 1;
    // 4:2:0 pictures need even sizes.
    const int32_t width = film.width & ~1;
    const int32_t height = film.height & ~1;
    plan.info.fccType = core::kStreamTypeVideo;
    plan.info.fccHandler = *fourcc;
    plan.info.dwScale = film.scale;
    plan.info.dwRate = film.rate;
    plan.info.dwQuality = UINT32_MAX; // the encoder's default quality
    plan.info.rcFrame = {0, 0, width, height};
    video::riff::putU32(plan.format, core::kBitmapInfoHeaderBytes);
    video::riff::putU32(plan.format, static_cast<uint32_t>(width));
    video::riff::putU32(plan.format, static_cast<uint32_t>(height));
    video::riff::putU16(plan.format, 1);  // planes
    video::riff::putU16(plan.format, 24); // bits per pixel of the decoded picture
    video::riff::putU32(plan.format, *fourcc);
    video::riff::putU32(plan.format, static_cast<uint32_t>(width * height * 3));
    for (int i = 0; i < 4; ++i)
        video::riff::putU32(plan.format, 0); // resolution and palette: none
    plan.settings.codec = request.codec;
    plan.settings.fourcc = *fourcc;
    plan.settings.width = width;
    plan.settings.height = height;
    plan.settings.rate = film.rate;
    plan.settings.scale = film.scale;
    plan.settings.threads = request.threads;
    plan.settings.bitsPerSecond = int64_t{std::max(request.kbps, 1)} * 1024;
    return encodeToAvi(plan, media, ui, result);
}

} // namespace engine
