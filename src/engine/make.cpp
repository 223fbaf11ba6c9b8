#include "engine/make.h"

#include "core/messages.h"
#include "engine/encode.h"
#include "engine/exact_size.h"
#include "engine/frame_meter.h"
#include "engine/level_choice.h"
#include "engine/planner.h"
#include "engine/quiet_ui_port.h"
#include "engine/sound.h"
#include "engine/source_sound.h"
#include "engine/verify.h"
#include "output/final_avi.h"
#include "video/avi_layout.h"
#include "video/avi_writer.h"
#include "video/riff.h"
#include "video/source.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <span>

namespace engine {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kXvid = 0x44495658; // 'XVID'
constexpr uint32_t kH264 = 0x34363248; // 'H264'
constexpr int32_t kProbeShare = 4;     // the probe encodes the first quarter of every group
constexpr int32_t kProbeQuantizers[] = {2, 4, 8, 16, 31};
// H.264's quantizers run to 51, and its key frames are finer than the rest already.
constexpr int32_t kProbeQuantizersH264[] = {10, 20, 28, 36, 51};

int32_t coarsestQuantizer(media::VideoCodec codec)
{
    return codec == media::VideoCodec::H264 ? 51 : 31;
}

// The default levels for the codec: H.264 levels are plain, its finest at 10.
std::vector<MakeLevel> codecLevels(media::VideoCodec codec, int32_t qStar)
{
    if (codec != media::VideoCodec::H264)
        return defaultLevels(qStar);
    std::vector<MakeLevel> levels;
    for (int32_t q = std::max(qStar - 2, 10); q <= std::min(qStar + 2, 51); ++q)
        levels.push_back({q, q});
    return levels;
}

// Bytes one frame of sizeBytes adds to the Final AVI: its chunk (header, pad) and 'idx1' entry.
int64_t frameCost(int64_t sizeBytes)
{
    return 8 + sizeBytes + (sizeBytes & 1) + 16;
}

// The work folder and the files in it: removed on destruction unless kept.
class WorkFolder {
public:
    WorkFolder(std::string path, bool created, bool keep)
        : m_path(std::move(path)), m_created(created), m_keep(keep)
    {
    }
    ~WorkFolder()
    {
        std::error_code ignored; // files that never came to be
        if (m_keep)
            return;
        for (const std::string& file : m_files)
            fs::remove(file, ignored);
        if (m_created)
            fs::remove_all(m_path, ignored);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    const std::string& path() const { return m_path; }
    // Returns the path of a new file name in the folder, removed with it.
    std::string file(const std::string& name)
    {
        m_files.push_back((fs::path(m_path) / name).string());
        return m_files.back();
    }

private:
    std::string m_path;
    bool m_created;
    bool m_keep;
    std::vector<std::string> m_files;
};

// Removes a file on destruction unless released.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : m_path(std::move(path)) {}
    ~TemporaryFile()
    {
        std::error_code ignored;
        if (!m_path.empty())
            fs::remove(m_path, ignored);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return m_path; }
    void release() { m_path.clear(); }

private:
    std::string m_path;
};

// Passes everything on to ui, counting the messages: a copy that ends without one was aborted.
struct MessageCounter : core::UiPort {
    explicit MessageCounter(core::UiPort& forward) : ui(forward) {}
    void showMessage(const core::Message& message) override
    {
        ++messages;
        ui.showMessage(message);
    }
    bool askYesNo(const core::Question& question) override { return ui.askYesNo(question); }
    void beginBusy() override { ui.beginBusy(); }
    void endBusy() override { ui.endBusy(); }
    std::unique_ptr<core::ProgressPort> openProgress() override { return ui.openProgress(); }
    const core::NumberFormat& numbers() const override { return ui.numbers(); }

    core::UiPort& ui;
    int32_t messages = 0;
};

// Times a step into the result's list, adding to the step's time when it ran before.
class StepTimer {
public:
    StepTimer(MakeResult& result, std::string step)
        : m_result(result), m_step(std::move(step)), m_started(Clock::now())
    {
    }
    ~StepTimer()
    {
        const double seconds = std::chrono::duration<double>(Clock::now() - m_started).count();
        for (MakeStepTime& step : m_result.seconds) {
            if (step.step == m_step) {
                step.seconds += seconds;
                return;
            }
        }
        m_result.seconds.push_back({m_step, seconds});
    }
    StepTimer(const StepTimer&) = delete;
    StepTimer& operator=(const StepTimer&) = delete;

private:
    MakeResult& m_result;
    std::string m_step;
    Clock::time_point m_started;
};

// The film as the encodes see it.
struct Film {
    int32_t width = 0;
    int32_t height = 0;
    uint32_t rate = 0;
    uint32_t scale = 0;
    int64_t frames = 0;   // as the container tells; the encodes count their own
    int32_t distance = 0; // frames per key-frame group
    core::AviStreamInfo info;
    std::vector<uint8_t> format;
    uint32_t fourcc = 0;
    int64_t samplesPerFrame = 0; // Y, U and V samples of one picture
};

std::optional<Film> filmOf(const MakeRequest& request, int32_t keySeconds, media::VideoMedia& media,
                           core::UiPort& ui)
{
    std::string errorText;
    const std::unique_ptr<media::VideoDecoder> decoder = media.openDecoder(request.sourcePath, errorText);
    if (!decoder) {
        ui.showMessage(core::messages::filmUnreadable(request.sourcePath, errorText));
        return std::nullopt;
    }
    const media::FilmInfo& info = decoder->info();
    Film film;
    film.width = info.width & ~1;
    film.height = info.height & ~1;
    film.rate = info.rate;
    film.scale = info.scale;
    film.frames = info.frameCount;
    film.distance =
        info.scale == 0 ? 0 : static_cast<int32_t>(std::llround(double(keySeconds) * info.rate / info.scale));
    if (film.frames <= 0 || film.frames > INT32_MAX || film.distance < 1 || film.width < 2 ||
        film.height < 2) {
        ui.showMessage(core::messages::filmUnusable(request.sourcePath));
        return std::nullopt;
    }
    film.fourcc = request.codec == media::VideoCodec::H264 ? kH264 : kXvid;
    film.info.fccType = core::kStreamTypeVideo;
    film.info.fccHandler = film.fourcc;
    film.info.dwScale = film.scale;
    film.info.dwRate = film.rate;
    film.info.dwQuality = UINT32_MAX;
    film.info.rcFrame = {0, 0, film.width, film.height};
    video::riff::putU32(film.format, core::kBitmapInfoHeaderBytes);
    video::riff::putU32(film.format, static_cast<uint32_t>(film.width));
    video::riff::putU32(film.format, static_cast<uint32_t>(film.height));
    video::riff::putU16(film.format, 1);
    video::riff::putU16(film.format, 24);
    video::riff::putU32(film.format, film.fourcc);
    video::riff::putU32(film.format, static_cast<uint32_t>(film.width * film.height * 3));
    for (int i = 0; i < 4; ++i)
        video::riff::putU32(film.format, 0);
    film.samplesPerFrame =
        int64_t{film.width} * film.height + 2 * int64_t{(film.width + 1) / 2} * ((film.height + 1) / 2);
    return film;
}

// One encoder of a decode pass: which frames it takes, and what it made of each.
struct LevelEncode {
    MakeLevel level;
    std::unique_ptr<media::VideoEncoder> encoder;
    std::unique_ptr<video::AviWriter> writer; // null for the probe, which keeps no file
    std::string path;
    std::vector<int64_t> bytes; // per frame handed in
    std::vector<double> squaredError;
    int64_t handed = 0; // frames handed in
};

enum class PassEnd { Done, Failed, Aborted };

// Decodes the film once and hands every frame for which takes(frame) holds to every encoder, a
// key frame at each group start. Stores the film's frame count in frames.
template <typename Takes>
PassEnd runEncodes(const MakeRequest& request, const Film& film, std::vector<LevelEncode>& encodes,
                   const std::string& step, Takes&& takes, media::VideoMedia& media, core::UiPort& ui,
                   int64_t& frames)
{
    const auto fail = [&](const std::string& reason) {
        ui.showMessage(core::messages::makeFailed(reason));
        return PassEnd::Failed;
    };
    std::string errorText;
    std::unique_ptr<media::VideoDecoder> decoder = media.openDecoder(request.sourcePath, errorText);
    if (!decoder)
        return fail(errorText);
    decoder->setOutputSize(film.width, film.height);
    for (LevelEncode& encode : encodes) {
        media::EncoderSettings settings;
        settings.codec = request.codec;
        settings.width = film.width;
        settings.height = film.height;
        settings.rate = film.rate;
        settings.scale = film.scale;
        settings.fourcc = film.fourcc;
        settings.longestKeyDistance = film.distance;
        settings.mode = media::RateMode::ConstantQuantizer;
        settings.quantizer = encode.level.quantizer;
        settings.keyQuantizer = encode.level.keyQuantizer;
        settings.threads = request.threads;
        settings.measureError = true;
        encode.encoder = media.openEncoder(settings, errorText);
        if (!encode.encoder)
            return fail(errorText);
    }
    FrameMeter meter(ui, film.frames, step);
    std::vector<media::EncodedPacket> packets;
    const auto take = [&](LevelEncode& encode) -> bool {
        for (const media::EncodedPacket& packet : packets) {
            if (encode.writer &&
                encode.writer->writeSample(static_cast<int32_t>(encode.bytes.size()), packet.data,
                                           packet.key) != video::AviStatus::Ok) {
                ui.showMessage(core::messages::makeFailed(encode.writer->errorText()));
                return false;
            }
            encode.bytes.push_back(static_cast<int64_t>(packet.data.size()));
            encode.squaredError.push_back(
                double(packet.squaredError[0] + packet.squaredError[1] + packet.squaredError[2]));
        }
        packets.clear();
        return true;
    };
    media::Picture picture;
    int64_t frame = 0;
    for (;; ++frame) {
        const media::DecodeStatus status = decoder->next(picture);
        if (status == media::DecodeStatus::Failed)
            return fail(decoder->errorText());
        if (status == media::DecodeStatus::End)
            break;
        if (takes(frame)) {
            for (LevelEncode& encode : encodes) {
                if (encode.encoder->encode(picture, encode.handed, frame % film.distance == 0, packets) !=
                    media::EncodeStatus::Ok)
                    return fail(encode.encoder->errorText());
                ++encode.handed;
                if (!take(encode))
                    return PassEnd::Failed;
            }
        }
        if (!meter.frameDone())
            return PassEnd::Aborted;
    }
    for (LevelEncode& encode : encodes) {
        if (encode.encoder->finish(packets) != media::EncodeStatus::Ok)
            return fail(encode.encoder->errorText());
        if (!take(encode))
            return PassEnd::Failed;
        if (static_cast<int64_t>(encode.bytes.size()) != encode.handed)
            return fail("the encoder gave " + std::to_string(encode.bytes.size()) + " of " +
                        std::to_string(encode.handed) + " frames");
        if (encode.writer && encode.writer->finish() != video::AviStatus::Ok)
            return fail(encode.writer->errorText());
        encode.writer.reset();
    }
    frames = frame;
    return frame > 0 ? PassEnd::Done : fail("the film holds no frames");
}

CommandOutcome outcomeOf(PassEnd end)
{
    return end == PassEnd::Aborted ? CommandOutcome::Aborted : CommandOutcome::Ended;
}

// The bytes of the Final AVI besides its video chunks and their index entries.
int64_t overheadBytes(const Film& film, const video::AudioTrack* track, const std::vector<int64_t>& sizes)
{
    video::avi_layout::SizeCounter counter(film.info, film.format.size(), {}, track);
    int64_t payload = 0;
    for (const int64_t size : sizes) {
        counter.addSample(static_cast<uint32_t>(size));
        payload += frameCost(size);
    }
    return counter.fileBytes() - payload;
}

// What the probe predicts for one quantizer: the whole film's frame bytes in the Final AVI.
struct ProbePoint {
    int32_t quantizer = 0;
    double bytes = 0;
};

// Predicts every probe quantizer's whole film from the first probeFrames frames of each group:
// the key frame as it is, the frames after it at the mean of those probed.
std::vector<ProbePoint> probePoints(const std::vector<LevelEncode>& probe, int64_t frames, int64_t distance,
                                    int64_t probeFrames)
{
    std::vector<ProbePoint> points;
    for (const LevelEncode& encode : probe) {
        ProbePoint point{encode.level.quantizer, 0};
        size_t next = 0;
        for (int64_t start = 0; start < frames && next < encode.bytes.size(); start += distance) {
            const int64_t length = std::min(distance, frames - start);
            const int64_t probed =
                std::min({probeFrames, length, static_cast<int64_t>(encode.bytes.size() - next)});
            const double key = double(frameCost(encode.bytes[next]));
            double rest = 0;
            for (int64_t i = 1; i < probed; ++i)
                rest += double(frameCost(encode.bytes[next + static_cast<size_t>(i)]));
            point.bytes += key + (probed > 1 ? rest * double(length - 1) / double(probed - 1)
                                             : key * double(length - 1));
            next += static_cast<size_t>(probed);
        }
        points.push_back(point);
    }
    return points;
}

// Returns the bytes the points predict for quantizer q, log-linear between them.
double predictedBytes(const std::vector<ProbePoint>& points, int32_t q)
{
    const double x = std::log(double(q));
    size_t i = 0;
    while (i + 2 < points.size() && points[i + 1].quantizer < q)
        ++i;
    const double x0 = std::log(double(points[i].quantizer));
    const double x1 = std::log(double(points[i + 1].quantizer));
    const double y0 = std::log(std::max(1.0, points[i].bytes));
    const double y1 = std::log(std::max(1.0, points[i + 1].bytes));
    return std::exp(y0 + (y1 - y0) * (x - x0) / (x1 - x0));
}

// Returns the finest quantizer whose whole film the probe predicts within budget (the coarsest
// probed when none).
int32_t estimateQuantizer(const std::vector<ProbePoint>& points, int64_t budget)
{
    for (int32_t q = points.front().quantizer; q < points.back().quantizer; ++q) {
        if (predictedBytes(points, q) <= double(budget))
            return q;
    }
    return points.back().quantizer;
}

std::string levelName(const MakeLevel& level)
{
    return "level-q" + std::to_string(level.quantizer) +
           (level.keyQuantizer != level.quantizer ? "-k" + std::to_string(level.keyQuantizer) : "") + ".avi";
}

// Refuses a Final AVI that is the source and asks before replacing one; false after a message or a No.
bool finalIsFree(const MakeRequest& request, core::UiPort& ui)
{
    const std::optional<video::FileIdentity> identity = video::identityOfPath(request.finalPath);
    if (!identity)
        return true;
    if (video::identityOfPath(request.sourcePath) == identity) {
        ui.showMessage(core::messages::destinationIsSource("Final AVI", "source film", request.finalPath));
        return false;
    }
    return request.replaceAgreed || ui.askYesNo(core::messages::replaceFile("Final AVI", request.finalPath));
}

// Creates the work folder; nothing after a message.
std::optional<WorkFolder> makeWorkFolder(const MakeRequest& request, core::UiPort& ui)
{
    std::error_code error;
    fs::path folder = request.workFolder;
    if (folder.empty()) {
        const fs::path final = fs::absolute(request.finalPath, error);
        for (int n = 0;; ++n) {
            folder = final.parent_path() /
                     (final.filename().string() + ".work" + (n > 0 ? std::to_string(n) : ""));
            if (!fs::exists(folder, error))
                break;
        }
    }
    const bool created = fs::create_directories(folder, error);
    if (error) {
        ui.showMessage(core::messages::makeFailed(folder.string() + ": " + error.message()));
        return std::nullopt;
    }
    return std::optional<WorkFolder>(std::in_place, folder.string(), created, request.keepWork);
}

// Checks that folder has neededBytes free; false after a message.
bool spaceSuffices(const MakeRequest& request, const std::string& folder, int64_t neededBytes,
                   core::UiPort& ui)
{
    std::optional<int64_t> freeBytes;
    if (request.freeSpace) {
        freeBytes = request.freeSpace(folder);
    } else {
        std::error_code error;
        const fs::space_info space = fs::space(folder, error);
        if (!error)
            freeBytes = static_cast<int64_t>(space.available);
    }
    if (!freeBytes || *freeBytes >= neededBytes)
        return true;
    ui.showMessage(core::messages::makeNeedsSpace(neededBytes, folder, *freeBytes));
    return false;
}

// Puts the finished temporary Final AVI in place; false after a message.
bool commitFinal(TemporaryFile& temporary, const std::string& finalPath, core::UiPort& ui)
{
    std::error_code error;
    fs::rename(temporary.path(), finalPath, error);
    if (error) {
        ui.showMessage(core::messages::makeFailed(error.message()));
        return false;
    }
    temporary.release();
    return true;
}

// Writes the Final AVI from the levels' groups as chosen, with the sound, and checks it frame by
// The plan of the chosen levels: group g from level choice[g], the levels' frames at film positions.
output::SourcePlan qualityPlan(const Film& film, const std::vector<int32_t>& choice)
{
    output::SourcePlan plan;
    plan.framesPerGroup = film.distance;
    for (size_t g = 0; g < choice.size(); ++g)
        plan.groups.push_back({choice[g], static_cast<int64_t>(g) * film.distance, output::GroupTally::None});
    return plan;
}

// The frame table of a level encode as its AVI holds it.
SourceTable levelTable(const Film& film, const LevelEncode& encode)
{
    SourceTable table;
    table.info = film.info;
    table.format = film.format;
    const auto count = static_cast<int32_t>(encode.bytes.size());
    table.frames.setSize(count, count, [&](std::span<core::FrameRecord> records) {
        for (size_t i = 0; i < records.size(); ++i)
            records[i] = {i % static_cast<size_t>(film.distance) == 0 ? 1 : 0,
                          static_cast<int32_t>(encode.bytes[i])};
    });
    return table;
}

// frame against the levels. Returns the file's size, or nothing after a message or an abort.
PassEnd writeQualityFinal(const Film& film, const std::vector<LevelEncode>& encodes,
                          const std::vector<int32_t>& choice, const video::AudioTrack* track,
                          media::SoundFile* sound, const std::string& soundPath, const std::string& path,
                          core::UiPort& ui, MakeResult& result)
{
    const output::SourcePlan plan = qualityPlan(film, choice);
    std::vector<std::string> paths;
    for (const LevelEncode& encode : encodes)
        paths.push_back(encode.path);
    {
        const StepTimer timer(result, "write");
        std::vector<video::Source> sources;
        for (const std::string& levelPath : paths) {
            std::optional<video::Source> source = video::openVideoStream(levelPath, ui);
            if (!source)
                return PassEnd::Failed;
            sources.push_back(std::move(*source));
        }
        std::vector<video::Source*> pointers;
        for (video::Source& source : sources)
            pointers.push_back(&source);
        output::FinalAviRequest request;
        request.framesPerGroup = film.distance;
        request.finalPath = path;
        request.audio = track;
        request.audioReader = sound;
        int64_t copiedBytes = 0;
        MessageCounter counted(ui);
        if (output::writeFinalAvi(pointers, plan, request, copiedBytes, counted) != 1)
            return counted.messages > 0 ? PassEnd::Failed : PassEnd::Aborted;
    }
    const StepTimer timer(result, "verify");
    const VerifyReport report = verifyPlannedAvi(path, paths, plan, soundPath, ui);
    if (report.status == VerifyStatus::Aborted)
        return PassEnd::Aborted;
    if (report.status == VerifyStatus::Differs)
        ui.showMessage(report.message(ui.numbers()));
    return report.status == VerifyStatus::Verified ? PassEnd::Done : PassEnd::Failed;
}

double psnrOf(double meanSquaredError)
{
    return meanSquaredError > 0 ? 10.0 * std::log10(255.0 * 255.0 / meanSquaredError) : 100.0;
}

CommandOutcome makeQuality(const MakeRequest& request, const Film& film, WorkFolder& work,
                           std::unique_ptr<media::SoundFile>& sound, const std::string& soundPath,
                           int64_t target, media::VideoMedia& media, core::UiPort& ui, MakeResult& result)
{
    int64_t frames = 0;
    // The probe: the first quarter of every group at a few quantizers, in memory, to place the
    // levels and to tell the space the encodes need.
    std::vector<LevelEncode> probe;
    const std::span<const int32_t> probeQuantizers = request.codec == media::VideoCodec::H264
                                                         ? std::span<const int32_t>(kProbeQuantizersH264)
                                                         : kProbeQuantizers;
    for (const int32_t q : probeQuantizers)
        probe.push_back({{q, q}, nullptr, nullptr, {}, {}, {}, 0});
    const int64_t probeFrames = std::max<int64_t>(1, film.distance / kProbeShare);
    {
        const StepTimer timer(result, "probe");
        const int64_t distance = film.distance;
        const PassEnd end = runEncodes(
            request, film, probe, "Probing", [&](int64_t frame) { return frame % distance < probeFrames; },
            media, ui, frames);
        if (end != PassEnd::Done)
            return outcomeOf(end);
    }
    const int64_t groups = (frames + film.distance - 1) / film.distance;
    const std::vector<ProbePoint> points = probePoints(probe, frames, film.distance, probeFrames);
    std::optional<video::AudioTrack> track;
    if (sound)
        track = finalTrack(*sound, frames, film.info);
    const video::AudioTrack* trackPointer = track ? &*track : nullptr;
    const int64_t fixedBytes =
        overheadBytes(film, trackPointer, std::vector<int64_t>(static_cast<size_t>(frames), 0));
    const int64_t budget = target - fixedBytes;

    std::vector<MakeLevel> levels = request.levels;
    if (levels.empty())
        levels = codecLevels(request.codec, estimateQuantizer(points, budget));
    int64_t needed = target;
    for (const MakeLevel& level : levels)
        // Finer key frames: counted as half the film again.
        needed += static_cast<int64_t>(predictedBytes(points, std::clamp(level.quantizer, 1,
                                                                         coarsestQuantizer(request.codec))) *
                                       (level.keyQuantizer < level.quantizer ? 1.5 : 1.0)) +
                  fixedBytes;
    needed += needed / 10; // the probe's prediction is rough
    if (!spaceSuffices(request, work.path(), needed, ui))
        return CommandOutcome::Ended;

    std::vector<LevelEncode> encodes;
    // Encodes the levels in one pass, adding them to encodes.
    const auto encodeLevels = [&](const std::vector<MakeLevel>& added) -> PassEnd {
        std::vector<LevelEncode> pass;
        for (const MakeLevel& level : added) {
            LevelEncode encode;
            encode.level = level;
            encode.path = work.file(levelName(level));
            video::AviCreateResult created = video::AviWriter::create(encode.path);
            if (created.status != video::AviStatus::Ok ||
                created.writer->createStream(film.info) != video::AviStatus::Ok ||
                created.writer->setFormat(film.format) != video::AviStatus::Ok) {
                ui.showMessage(core::messages::makeFailed(created.writer ? created.writer->errorText()
                                                                         : created.errorText));
                return PassEnd::Failed;
            }
            encode.writer = std::move(created.writer);
            pass.push_back(std::move(encode));
        }
        const StepTimer timer(result, "encode");
        int64_t counted = 0;
        const PassEnd end = runEncodes(
            request, film, pass, "Encoding levels", [](int64_t) { return true; }, media, ui, counted);
        if (end != PassEnd::Done)
            return end;
        if (counted != frames) {
            ui.showMessage(core::messages::frameCountsDiffer(counted, frames));
            return PassEnd::Failed;
        }
        for (LevelEncode& encode : pass)
            encodes.push_back(std::move(encode));
        return PassEnd::Done;
    };
    if (const PassEnd end = encodeLevels(levels); end != PassEnd::Done)
        return outcomeOf(end);

    // Every group's cost at every level, then the choice, checked against the exact layout.
    std::vector<int32_t> choice;
    {
        std::vector<std::vector<LevelCost>> costs(static_cast<size_t>(groups));
        // Adds the costs of the levels from encodes[first] on.
        const auto addCosts = [&](size_t first) {
            for (int64_t g = 0; g < groups; ++g) {
                for (size_t l = first; l < encodes.size(); ++l) {
                    LevelCost cost;
                    for (int64_t i = g * film.distance; i < std::min(frames, (g + 1) * film.distance); ++i) {
                        cost.bytes += frameCost(encodes[l].bytes[static_cast<size_t>(i)]);
                        cost.squaredError += encodes[l].squaredError[static_cast<size_t>(i)];
                    }
                    costs[static_cast<size_t>(g)].push_back(cost);
                }
            }
        };
        addCosts(0);
        int64_t groupBudget = budget;
        for (int attempt = 0;; ++attempt) {
            LevelChoice chosen;
            {
                const StepTimer timer(result, "choose");
                chosen = chooseLevels(costs, groupBudget);
            }
            int32_t coarsest = 0;
            for (const LevelEncode& encode : encodes)
                coarsest = std::max(coarsest, encode.level.quantizer);
            if (!chosen.fits && request.levels.empty() && coarsest < coarsestQuantizer(request.codec)) {
                // The probe placed the levels too fine: add the next coarser ones and choose again.
                const size_t first = encodes.size();
                std::vector<MakeLevel> coarser;
                for (const MakeLevel& level :
                     codecLevels(request.codec, std::min(coarsest + 2, coarsestQuantizer(request.codec) - 1)))
                    if (level.quantizer > coarsest)
                        coarser.push_back(level);
                if (const PassEnd end = encodeLevels(coarser); end != PassEnd::Done)
                    return outcomeOf(end);
                addCosts(first);
                --attempt;
                continue;
            }
            std::vector<SourceTable> tables;
            for (const LevelEncode& encode : encodes)
                tables.push_back(levelTable(film, encode));
            std::vector<const SourceTable*> tablePointers;
            for (const SourceTable& table : tables)
                tablePointers.push_back(&table);
            const int64_t fileBytes =
                plannedFileBytes(qualityPlan(film, chosen.levels), tablePointers, trackPointer);
            if (!chosen.fits) {
                ui.showMessage(core::messages::makeFailed("even the coarsest level of every group needs " +
                                                          std::to_string(fileBytes) + " bytes of " +
                                                          std::to_string(target)));
                return CommandOutcome::Ended;
            }
            if (fileBytes <= target) {
                choice = chosen.levels;
                result.costs = costs;
                result.groupBudget = groupBudget;
                result.finalFileBytes = fileBytes;
                double squaredError = 0;
                for (int64_t i = 0; i < frames; ++i)
                    squaredError +=
                        encodes[static_cast<size_t>(choice[static_cast<size_t>(i / film.distance)])]
                            .squaredError[static_cast<size_t>(i)];
                result.psnr = psnrOf(squaredError / double(film.samplesPerFrame) / double(frames));
                break;
            }
            // Only the OpenDML indexes of a large file grow with the plan: take their bytes off.
            groupBudget -= fileBytes - target;
            if (attempt == 8) {
                ui.showMessage(core::messages::makeFailed("no choice of levels fits the size"));
                return CommandOutcome::Ended;
            }
        }
    }
    result.groups = static_cast<int32_t>(groups);
    result.encodes = static_cast<int32_t>(encodes.size());
    result.groupLevels = choice;
    for (const LevelEncode& encode : encodes)
        result.levels.push_back({encode.level, 0, 0});
    for (int64_t i = 0; i < frames; ++i) {
        MakeLevelUse& use =
            result.levels[static_cast<size_t>(choice[static_cast<size_t>(i / film.distance)])];
        use.groups += i % film.distance == 0 ? 1 : 0;
        use.bytes += frameCost(
            encodes[static_cast<size_t>(&use - result.levels.data())].bytes[static_cast<size_t>(i)]);
    }

    TemporaryFile temporary(request.finalPath + ".making");
    const PassEnd end = writeQualityFinal(film, encodes, choice, trackPointer, sound.get(), soundPath,
                                          temporary.path(), ui, result);
    if (end != PassEnd::Done)
        return outcomeOf(end);
    std::error_code error;
    const auto written = static_cast<int64_t>(fs::file_size(temporary.path(), error));
    if (error || written != result.finalFileBytes || written > target) {
        ui.showMessage(core::messages::makeFailed("the Final AVI has " + std::to_string(written) +
                                                  " bytes where " + std::to_string(result.finalFileBytes) +
                                                  " were counted"));
        return CommandOutcome::Ended;
    }
    return commitFinal(temporary, request.finalPath, ui) ? CommandOutcome::Completed : CommandOutcome::Ended;
}

// Decodes the Final AVI and the source side by side and returns the PSNR as ffmpeg's psnr filter
// averages it; nothing after a message or an abort (aborted set).
std::optional<double> measurePsnr(const std::string& finalPath, const MakeRequest& request, const Film& film,
                                  media::VideoMedia& media, core::UiPort& ui, bool& aborted)
{
    std::string errorText;
    std::unique_ptr<media::VideoDecoder> final = media.openDecoder(finalPath, errorText);
    std::unique_ptr<media::VideoDecoder> source =
        final ? media.openDecoder(request.sourcePath, errorText) : nullptr;
    if (!final || !source) {
        ui.showMessage(core::messages::makeFailed(errorText));
        return std::nullopt;
    }
    source->setOutputSize(film.width, film.height);
    FrameMeter meter(ui, film.frames, "Measuring");
    media::Picture a;
    media::Picture b;
    double sum = 0;
    int64_t frames = 0;
    while (final->next(a) == media::DecodeStatus::Ok && source->next(b) == media::DecodeStatus::Ok) {
        const std::array<uint64_t, 3> error = media::squaredError(a, b);
        sum += double(error[0] + error[1] + error[2]) / double(film.samplesPerFrame);
        ++frames;
        if (!meter.frameDone()) {
            aborted = true;
            return std::nullopt;
        }
    }
    return frames > 0 ? psnrOf(sum / double(frames)) : 0.0;
}

CommandOutcome makeClassic(const MakeRequest& request, const Film& film, WorkFolder& work,
                           std::unique_ptr<media::SoundFile>& sound, const std::string& soundPath,
                           int64_t target, media::VideoMedia& media, core::UiPort& ui, MakeResult& result)
{
    // FM at twice the film's average video bitrate the target leaves, so that Fit finds a limit
    // with room on both sides; LM then at the estimate.
    const double seconds = double(film.frames) * film.scale / film.rate;
    const int64_t soundTotal = sound ? sound->bytes() : 0;
    const int64_t averageKbps =
        std::max<int64_t>(1, std::llround(double(target - soundTotal) / 128.0 / seconds));
    if (!spaceSuffices(request, work.path(), 3 * target + target / 2, ui))
        return CommandOutcome::Ended;
    core::Job job;
    core::applyOpeningDefaults(job.settings);
    job.settings.fastMotionPath = work.file("fast-motion.avi");
    job.settings.lowMotionPath = work.file("low-motion.avi");
    TemporaryFile temporary(request.finalPath + ".making");
    job.settings.finalPath = temporary.path();
    job.settings.finalSizeMB = request.finalSizeMB;
    job.settings.audioFilePath = soundPath;
    job.settings.audioKbps = request.audioKbps;
    EncodeResult encoded;
    {
        const StepTimer timer(result, "fm");
        FastMotionEncodeRequest fm;
        fm.sourcePath = request.sourcePath;
        fm.fastMotionPath = job.settings.fastMotionPath;
        fm.kbps = static_cast<int32_t>(std::min<int64_t>(2 * averageKbps, 1000000));
        fm.keySeconds = request.keySeconds > 0 ? request.keySeconds : kDefaultKeySeconds;
        fm.codec = request.codec;
        fm.threads = request.threads;
        const CommandOutcome outcome = runEncodeFastMotion(fm, media, ui, encoded);
        if (outcome != CommandOutcome::Completed)
            return outcome;
    }
    int32_t lowMotionKbps = 0;
    {
        // The limit starts at the FM bitrate, so about the busier half of the film is high motion;
        // it doubles while the high groups leave the Low Motion AVI no bitrate.
        const StepTimer timer(result, "analyze");
        job.settings.highBitrateLimit = static_cast<int32_t>(std::min<int64_t>(2 * averageKbps, 1000000));
        if (runAnalyze(job, ui) != CommandOutcome::Completed)
            return CommandOutcome::Ended;
        for (;;) {
            lowMotionKbps = std::atoi(job.settings.lowMotionBitrateText.c_str());
            if (lowMotionKbps > 0 || job.settings.highBitrateLimit > 1000000)
                break;
            job.settings.highBitrateLimit *= 2;
            refreshEstimate(job);
        }
        // The estimate leaves whole MB only; a film whose rest is below one MB gets the bitrate
        // that fills the target with Low Motion groups alone, 15 % spared for the layout and the rate
        // control's overshoot.
        if (lowMotionKbps <= 0)
            lowMotionKbps = static_cast<int32_t>(std::max<int64_t>(1, averageKbps * 85 / 100));
    }
    // The encoder's bitrate is an average it misses by a few percent: when even the Low Motion
    // AVI alone passes the target, it is encoded again at the bitrate scaled to fit, twice at most.
    int32_t lowMotionEncodes = 0;
    for (int32_t attempt = 0;; ++attempt) {
        {
            const StepTimer timer(result, "lm");
            LowMotionEncodeRequest lm;
            lm.kbps = lowMotionKbps;
            lm.sourcePath = request.sourcePath;
            lm.threads = request.threads;
            lm.replaceAgreed = true;
            const CommandOutcome outcome = runEncodeLowMotion(job, lm, media, ui, encoded);
            if (outcome != CommandOutcome::Completed)
                return outcome;
            ++lowMotionEncodes;
        }
        const StepTimer timer(result, "fit");
        OpenedSources sources;
        QuietUiPort quiet;
        const FitResult fit =
            fitLimit(job.settings, sources, attempt < 2 ? static_cast<core::UiPort&>(quiet) : ui);
        if (fit.status == FitStatus::Fitted) {
            job.settings.highBitrateLimit = fit.limit;
            result.highBitrateLimit = fit.limit;
            break;
        }
        if (fit.status != FitStatus::NothingFits || attempt == 2 || fit.neededBytes <= 0) {
            if (attempt < 2)
                (void)fitLimit(job.settings, sources, ui); // its message
            return CommandOutcome::Ended;
        }
        lowMotionKbps = static_cast<int32_t>(
            std::max<int64_t>(1, static_cast<int64_t>(double(lowMotionKbps) * double(fit.availableBytes) /
                                                      double(fit.neededBytes) * 0.97)));
    }
    {
        const StepTimer timer(result, "create");
        if (runCreate(job, ui) != CommandOutcome::Completed)
            return CommandOutcome::Ended;
    }
    {
        const StepTimer timer(result, "verify");
        const VerifyReport report = verifyFinalAvi(job.settings, ui);
        if (report.status != VerifyStatus::Verified) {
            if (report.status == VerifyStatus::Aborted)
                return CommandOutcome::Aborted;
            ui.showMessage(report.message(ui.numbers()));
            return CommandOutcome::Ended;
        }
    }
    {
        const StepTimer timer(result, "psnr");
        bool aborted = false;
        const std::optional<double> psnr = measurePsnr(temporary.path(), request, film, media, ui, aborted);
        if (!psnr)
            return aborted ? CommandOutcome::Aborted : CommandOutcome::Ended;
        result.psnr = *psnr;
    }
    std::error_code error;
    result.finalFileBytes = static_cast<int64_t>(fs::file_size(temporary.path(), error));
    result.groups = job.state.planTable.count();
    result.encodes = 1 + lowMotionEncodes;
    result.fastMotionPath = job.settings.fastMotionPath;
    result.lowMotionPath = job.settings.lowMotionPath;
    if (result.finalFileBytes > target) {
        ui.showMessage(core::messages::makeFailed("the Final AVI has " +
                                                  std::to_string(result.finalFileBytes) + " bytes of " +
                                                  std::to_string(target)));
        return CommandOutcome::Ended;
    }
    return commitFinal(temporary, request.finalPath, ui) ? CommandOutcome::Completed : CommandOutcome::Ended;
}

} // namespace

PreparedSound prepareFinalSound(const std::string& sourcePath, int32_t kbps, const std::string& workFolder,
                                core::UiPort& ui)
{
    constexpr int32_t kSteps = 1000;
    std::unique_ptr<core::ProgressPort> progress;
    const SourceSound sound = prepareSourceSound(sourcePath, kbps, workFolder, [&](double fraction) {
        if (!progress) {
            progress = ui.openProgress();
            progress->setRange(0, kSteps, 1);
        }
        (void)progress->setPosition(static_cast<int32_t>(fraction * kSteps));
        core::EncodeProgress state;
        state.step = "Sound";
        state.framesDone = static_cast<int64_t>(fraction * kSteps);
        state.framesTotal = kSteps;
        progress->setEncodeProgress(state);
        progress->pumpMessages(true);
        return !progress->cancelled();
    });
    switch (sound.status) {
    case SourceSoundStatus::NoSound:
        return {};
    case SourceSoundStatus::SourceItself:
    case SourceSoundStatus::Encoded:
        return {false, false, sound.path};
    case SourceSoundStatus::Aborted:
        return {false, true, {}};
    case SourceSoundStatus::Failed:
        break;
    }
    ui.showMessage(core::messages::soundOpenFailed(sourcePath, sound.detail));
    return {true, false, {}};
}

std::vector<MakeLevel> defaultLevels(int32_t qStar)
{
    std::vector<MakeLevel> levels{{2, 2}};
    for (int32_t q = std::max(qStar - 1, 2); q <= std::min(qStar + 1, 31); ++q) {
        if (q != 2)
            levels.push_back({q, q});
        const int32_t key = std::max(2, static_cast<int32_t>(std::lround(q / 3.0)));
        if (key != q)
            levels.push_back({q, key});
    }
    return levels;
}

CommandOutcome runMake(const MakeRequest& request, media::VideoMedia& media, core::UiPort& ui,
                       MakeResult& result)
{
    result = {};
    result.mode = request.mode;
    core::JobSettings settings;
    settings.finalSizeMB = request.finalSizeMB;
    result.targetBytes = targetBytes(settings);
    if (!finalIsFree(request, ui))
        return CommandOutcome::Ended;
    const int32_t keySeconds = request.keySeconds > 0 ? request.keySeconds : kDefaultKeySeconds;
    const std::optional<Film> film = filmOf(request, keySeconds, media, ui);
    if (!film)
        return CommandOutcome::Ended;
    std::optional<WorkFolder> work = makeWorkFolder(request, ui);
    if (!work)
        return CommandOutcome::Ended;
    result.workFolder = work->path();
    std::unique_ptr<media::SoundFile> sound;
    std::string soundPath;
    {
        const StepTimer timer(result, "sound");
        const PrepareSound prepare =
            request.prepareSound ? request.prepareSound : PrepareSound(prepareFinalSound);
        const PreparedSound prepared = prepare(request.sourcePath, request.audioKbps, work->path(), ui);
        if (prepared.failed || prepared.aborted)
            return prepared.aborted ? CommandOutcome::Aborted : CommandOutcome::Ended;
        soundPath = prepared.path;
        if (!soundPath.empty()) {
            sound = openSound(soundPath, ui);
            if (!sound)
                return CommandOutcome::Ended;
        }
    }
    if (request.mode == MakeMode::Classic)
        return makeClassic(request, *film, *work, sound, soundPath, result.targetBytes, media, ui, result);
    return makeQuality(request, *film, *work, sound, soundPath, result.targetBytes, media, ui, result);
}

} // namespace engine
