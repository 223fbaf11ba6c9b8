// Measures the Final AVI copy on a 90-minute pair against a plain copy of the same byte count:
// throughput (warm cache), peak memory, bytes read from the sources (cold cache), and that a
// Final AVI above 1 GB is OpenDML and readable to its last frame.
//
// Usage: create_bench [--create-only] [media folder]. The sources are made once and kept in the
// folder. --create-only runs one Create in this process, for profilers, and prints its time.

#include "core/stream_info.h"
#include "core/user_interface_port.h"
#include "output/final_avi.h"
#include "video/avi_writer.h"
#include "video/source.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int32_t kFrames = 135000;
constexpr int32_t kKeyframeDistance = 25;
constexpr int32_t kRate = 25;

// Prints messages on stderr and shows no progress.
class ConsoleUi : public core::UiPort {
public:
    void showMessage(const core::Message& message) override
    {
        std::string text = message.text;
        std::replace(text.begin(), text.end(), '\r', ' ');
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    bool askYesNo(const core::Question&) override { return false; }
    void beginBusy() override {}
    void endBusy() override {}
    std::unique_ptr<core::ProgressPort> openProgress() override { return std::make_unique<SilentProgress>(); }

private:
    class SilentProgress : public core::ProgressPort {
    public:
        void setRange(int32_t, int32_t, int32_t) override {}
        int32_t setPosition(int32_t position) override { return std::exchange(m_position, position); }
        void setStatistics(const core::ProgressStatistics&) override {}
        void pumpMessages(bool) override {}
        bool cancelled() const override { return false; }

    private:
        int32_t m_position = 0;
    };
};

// A small deterministic generator, so the media is the same on every machine.
class Lcg {
public:
    explicit Lcg(uint64_t state) : m_state(state) {}
    uint32_t next()
    {
        m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(m_state >> 33);
    }

private:
    uint64_t m_state;
};

// Busy scenes (large frames) and still scenes (small frames), each a whole number of groups.
std::vector<bool> busyGroups(int32_t groups)
{
    std::vector<bool> busy(static_cast<size_t>(groups));
    Lcg random(7);
    bool state = true;
    for (int32_t g = 0; g < groups;) {
        const int32_t length = 4 + static_cast<int32_t>(random.next() % 40);
        for (int32_t i = 0; i < length && g < groups; ++i, ++g)
            busy[static_cast<size_t>(g)] = state;
        state = !state;
    }
    return busy;
}

struct FrameSizes {
    int32_t busyKey = 0;
    int32_t busyDelta = 0;
    int32_t stillKey = 0;
    int32_t stillDelta = 0;
};

std::array<uint8_t, 40> bitmapHeader(uint32_t sizeImage)
{
    std::array<uint8_t, 40> header{};
    auto put32 = [&header](size_t offset, uint32_t value) {
        for (size_t i = 0; i < 4; ++i)
            header[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    put32(0, 40);
    put32(4, 720);
    put32(8, 576);
    header[12] = 1;  // planes
    header[14] = 24; // bits per pixel
    // A codec whose packets ffprobe takes as they are: the sample bytes are made up.
    put32(16, core::fourcc("cvid"));
    put32(20, sizeImage);
    return header;
}

// Writes an AVI of frames frames with the sizes given per scene, unless it exists.
bool makeSource(const std::string& path, int32_t frames, const FrameSizes& sizes, uint64_t variation)
{
    if (fs::exists(path))
        return true;
    std::printf("making %s ...\n", path.c_str());
    std::fflush(stdout);
    const std::string partial = path + ".part";
    video::AviCreateResult created = video::AviWriter::create(partial);
    if (created.status != video::AviStatus::Ok) {
        std::fprintf(stderr, "cannot create %s: %s\n", partial.c_str(), created.errorText.c_str());
        return false;
    }
    core::AviStreamInfo info;
    info.fccType = core::kStreamTypeVideo;
    info.fccHandler = core::fourcc("cvid");
    info.dwScale = 1;
    info.dwRate = kRate;
    info.dwQuality = 0xffffffff;
    info.rcFrame = {0, 0, 720, 576};
    const std::array<uint8_t, 40> format = bitmapHeader(720 * 576 * 3);
    if (created.writer->createStream(info) != video::AviStatus::Ok ||
        created.writer->setFormat(format) != video::AviStatus::Ok)
        return false;
    const std::vector<bool> busy = busyGroups((frames + kKeyframeDistance - 1) / kKeyframeDistance);
    std::vector<uint8_t> data(4 << 20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 131 + i / 251);
    Lcg random(variation);
    for (int32_t i = 0; i < frames; ++i) {
        const bool key = i % kKeyframeDistance == 0;
        const bool isBusy = busy[static_cast<size_t>(i / kKeyframeDistance)];
        const int32_t base =
            key ? (isBusy ? sizes.busyKey : sizes.stillKey) : (isBusy ? sizes.busyDelta : sizes.stillDelta);
        // +-10 % so no two frames are alike.
        const int32_t size =
            base - base / 10 + static_cast<int32_t>(random.next() % static_cast<uint32_t>(base / 5 + 1));
        std::memcpy(data.data(), &i, sizeof i);
        if (created.writer->writeSample(i, std::span<const uint8_t>(data.data(), static_cast<size_t>(size)),
                                        key) != video::AviStatus::Ok) {
            std::fprintf(stderr, "write failed: %s\n", created.writer->errorText().c_str());
            return false;
        }
    }
    if (created.writer->finish() != video::AviStatus::Ok)
        return false;
    fs::rename(partial, path);
    return true;
}

std::optional<video::Source> open(const std::string& path)
{
    ConsoleUi ui;
    return video::openVideoStream(path, ui);
}

// Reads the whole file once, so it is in the page cache.
void warm(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return;
    std::vector<char> chunk(2 << 20);
    while (::read(fd, chunk.data(), chunk.size()) > 0) {
    }
    ::close(fd);
}

// Drops the file's pages from the page cache (the caller syncs first).
void coolDown(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return;
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// Drops the whole page cache; needs the right to write the kernel setting.
bool dropAllCaches()
{
    const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY);
    if (fd < 0)
        return false;
    const bool done = ::write(fd, "1\n", 2) == 2;
    ::close(fd);
    return done;
}

struct ChildRun {
    bool ok = false;
    double seconds = 0;    // wall clock
    double cpuSeconds = 0; // user and system time of the child
    long maxRssKiB = 0;
    int64_t readBytes = -1; // from storage
    int64_t readChars = -1; // through read calls
};

int64_t ioField(const std::string& text, const std::string& name)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(name + ": ", 0) == 0)
            return std::stoll(line.substr(name.size() + 2));
    }
    return -1;
}

// Runs body in a child process and measures it; body returns the child's exit code.
template <typename Body> ChildRun runChild(Body body)
{
    ::sync();
    ChildRun run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0)
        return run;
    if (pid == 0)
        ::_exit(body());
    // Wait without reaping, so the child's I/O counters can still be read.
    siginfo_t info{};
    (void)::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    const std::string text((std::istreambuf_iterator<char>(io)), std::istreambuf_iterator<char>());
    run.readBytes = ioField(text, "read_bytes");
    run.readChars = ioField(text, "rchar");
    int status = 0;
    rusage usage{};
    (void)::wait4(pid, &status, 0, &usage);
    run.maxRssKiB = usage.ru_maxrss;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// Opens the sources and writes the Final AVI as Create does; returns an exit code.
int createFinal(const std::string& fmPath, const std::string& lmPath, const core::PlanTable& plan,
                const std::string& finalPath)
{
    std::optional<video::Source> fm = open(fmPath);
    std::optional<video::Source> lm = open(lmPath);
    if (!fm || !lm)
        return 2;
    output::FinalAviRequest request;
    request.framesPerGroup = kKeyframeDistance;
    request.groupSeconds = 1;
    request.finalPath = finalPath;
    ConsoleUi ui;
    int64_t finalBytes = 0;
    return output::writeFinalAvi(&*fm, &*lm, nullptr, plan, request, finalBytes, ui) == 1 ? 0 : 1;
}

ChildRun runCreate(const std::string& fmPath, const std::string& lmPath, const core::PlanTable& plan,
                   const std::string& finalPath)
{
    fs::remove(finalPath);
    return runChild([&] { return createFinal(fmPath, lmPath, plan, finalPath); });
}

ChildRun runDd(const std::string& from, const std::string& to, int64_t bytes)
{
    fs::remove(to);
    return runChild([&] {
        const std::string input = "if=" + from;
        const std::string output = "of=" + to;
        const std::string count = "count=" + std::to_string(bytes);
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDERR_FILENO);
        ::execlp("dd", "dd", input.c_str(), output.c_str(), "bs=2M", count.c_str(), "iflag=count_bytes",
                 static_cast<char*>(nullptr));
        return 127;
    });
}

// The plan: busy groups (FM group above the threshold) from FM, the rest from LM.
core::PlanTable makePlan(video::Source& fm, int64_t& fmGroupBytesTotal)
{
    const int32_t groups = (fm.sampleCount() + kKeyframeDistance - 1) / kKeyframeDistance;
    std::vector<int64_t> groupBytes(static_cast<size_t>(groups));
    for (int32_t i = 0; i < fm.sampleCount(); ++i) {
        int32_t bytes = 0;
        if (fm.sampleSize(i, bytes) == video::AviStatus::Ok)
            groupBytes[static_cast<size_t>(i / kKeyframeDistance)] += bytes;
    }
    std::vector<int64_t> sorted = groupBytes;
    std::sort(sorted.begin(), sorted.end());
    const int64_t threshold = sorted[sorted.size() / 2];
    core::PlanTable plan;
    plan.setSize(groups);
    fmGroupBytesTotal = 0;
    for (int32_t g = 0; g < groups; ++g) {
        plan[g].fmBytes = groupBytes[static_cast<size_t>(g)];
        plan[g].choice =
            groupBytes[static_cast<size_t>(g)] > threshold ? core::GroupChoice::High : core::GroupChoice::Low;
        fmGroupBytesTotal += groupBytes[static_cast<size_t>(g)];
    }
    return plan;
}

// Sample bytes the plan copies.
int64_t plannedBytes(const core::PlanTable& plan, video::Source& fm, video::Source& lm)
{
    int64_t total = 0;
    for (int32_t g = 0; g < plan.count(); ++g) {
        video::Source& source = plan[g].choice == core::GroupChoice::Low ? lm : fm;
        for (int32_t k = 0; k < kKeyframeDistance; ++k) {
            int32_t bytes = 0;
            if (source.sampleSize(g * kKeyframeDistance + k, bytes) == video::AviStatus::Ok)
                total += bytes;
        }
    }
    return total;
}

// The form types of the file's top-level RIFF chunks ("AVI ", "AVIX", ...).
std::vector<std::string> riffParts(const std::string& path)
{
    std::vector<std::string> parts;
    std::ifstream in(path, std::ios::binary);
    int64_t offset = 0;
    for (;;) {
        std::array<unsigned char, 12> header{};
        in.seekg(offset);
        if (!in.read(reinterpret_cast<char*>(header.data()), 12) ||
            std::memcmp(header.data(), "RIFF", 4) != 0)
            break;
        const uint32_t size =
            header[4] | header[5] << 8 | header[6] << 16 | static_cast<uint32_t>(header[7]) << 24;
        parts.emplace_back(reinterpret_cast<const char*>(header.data() + 8), 4);
        offset += 8 + static_cast<int64_t>(size) + (size & 1);
    }
    return parts;
}

std::string commandOutput(const std::string& command)
{
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    std::array<char, 4096> chunk{};
    size_t got = 0;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        output.append(chunk.data(), got);
    ::pclose(pipe);
    return output;
}

double megabytesPerSecond(int64_t bytes, double seconds)
{
    return seconds > 0 ? bytes / 1048576.0 / seconds : 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Single runs vary a lot on a shared machine (write-back of earlier runs); the median of
    // several interleaved runs is the figure that counts.
    constexpr int kTimedRuns = 7;
    const bool createOnly = argc > 1 && std::string(argv[1]) == "--create-only";
    const int folderArgument = createOnly ? 2 : 1;
    const std::string dir = argc > folderArgument ? argv[folderArgument] : KESTRELION_BENCH_MEDIA_DIR;
    fs::create_directories(dir);
    const std::string fmPath = dir + "/fm_90min.avi";
    const std::string lmPath = dir + "/lm_90min.avi";
    const std::string bigPath = dir + "/fm_big.avi";
    const std::string finalPath = dir + "/final.avi";
    const std::string ddPath = dir + "/dd.bin";

    if (!makeSource(fmPath, kFrames, {30000, 7500, 15000, 1500}, 1) ||
        !makeSource(lmPath, kFrames, {15000, 3750, 7500, 750}, 2))
        return 1;

    core::PlanTable plan;
    int64_t copiedBytes = 0;
    int32_t fmFrames = 0;
    int32_t lmFrames = 0;
    {
        std::optional<video::Source> fm = open(fmPath);
        std::optional<video::Source> lm = open(lmPath);
        if (!fm || !lm)
            return 1;
        int64_t fmTotal = 0;
        plan = makePlan(*fm, fmTotal);
        copiedBytes = plannedBytes(plan, *fm, *lm);
        fmFrames = fm->sampleCount();
        lmFrames = lm->sampleCount();
        int32_t high = 0;
        for (const core::PlanRecord& record : plan)
            high += record.choice == core::GroupChoice::High;
        std::printf(
            "sources: FM %.1f MB, LM %.1f MB, %d frames each; plan: %d groups, %d from FM, %d from LM\n",
            fs::file_size(fmPath) / 1048576.0, fs::file_size(lmPath) / 1048576.0, fmFrames, plan.count(),
            high, plan.count() - high);
    }

    if (createOnly) {
        fs::remove(finalPath);
        ::sync();
        const auto start = std::chrono::steady_clock::now();
        const int exitCode = createFinal(fmPath, lmPath, plan, finalPath);
        std::printf("Create: %.2f s\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        return exitCode;
    }

    // Warm cache: throughput against dd of as many bytes as the Final AVI holds.
    warm(fmPath);
    warm(lmPath);
    ChildRun probe = runCreate(fmPath, lmPath, plan, finalPath);
    if (!probe.ok) {
        std::fprintf(stderr, "Create failed\n");
        return 1;
    }
    const int64_t finalSize = static_cast<int64_t>(fs::file_size(finalPath));
    // One untimed copy as well, so both start their timed runs equally warmed up.
    (void)runDd(fmPath, ddPath, finalSize);
    std::printf("Final AVI: %.1f MB file, %.1f MB of samples\n", finalSize / 1048576.0,
                copiedBytes / 1048576.0);
    // Interleaved runs; the machine may be busy with other work, so the fastest run of each
    // shows what the copy itself costs, the median what a typical run sees.
    std::vector<double> createSeconds;
    std::vector<double> ddSeconds;
    std::vector<double> createCpu;
    std::vector<double> ddCpu;
    long peakRss = probe.maxRssKiB;
    for (int run = 1; run <= kTimedRuns; ++run) {
        // The order alternates, so neither always runs right after the other's writes.
        ChildRun create;
        ChildRun dd;
        if (run % 2 == 1) {
            create = runCreate(fmPath, lmPath, plan, finalPath);
            dd = runDd(fmPath, ddPath, finalSize);
        } else {
            dd = runDd(fmPath, ddPath, finalSize);
            create = runCreate(fmPath, lmPath, plan, finalPath);
        }
        if (!create.ok || !dd.ok) {
            std::fprintf(stderr, "run %d failed\n", run);
            return 1;
        }
        std::printf(
            "run %d: Create %.0f MB/s (%.2f s, CPU %.2f s), dd %.0f MB/s (%.2f s, CPU %.2f s), ratio %.2f\n",
            run, megabytesPerSecond(finalSize, create.seconds), create.seconds, create.cpuSeconds,
            megabytesPerSecond(finalSize, dd.seconds), dd.seconds, dd.cpuSeconds,
            dd.seconds / create.seconds);
        createSeconds.push_back(create.seconds);
        ddSeconds.push_back(dd.seconds);
        createCpu.push_back(create.cpuSeconds);
        ddCpu.push_back(dd.cpuSeconds);
        peakRss = std::max(peakRss, create.maxRssKiB);
    }
    for (std::vector<double>* times : {&createSeconds, &ddSeconds, &createCpu, &ddCpu})
        std::sort(times->begin(), times->end());
    const size_t middle = createSeconds.size() / 2;
    std::printf("warm cache, median of %d: Create %.0f MB/s, dd %.0f MB/s, ratio %.2f (goal >= 0.80)\n", kTimedRuns,
                megabytesPerSecond(finalSize, createSeconds[middle]), megabytesPerSecond(finalSize, ddSeconds[middle]),
                ddSeconds[middle] / createSeconds[middle]);
    std::printf("warm cache, best of %d: Create %.0f MB/s, dd %.0f MB/s, ratio %.2f\n", kTimedRuns,
                megabytesPerSecond(finalSize, createSeconds[0]), megabytesPerSecond(finalSize, ddSeconds[0]),
                ddSeconds[0] / createSeconds[0]);
    std::printf("CPU time, best of %d: Create %.2f s, dd %.2f s, ratio %.2f\n", kTimedRuns, createCpu[0], ddCpu[0],
                ddCpu[0] / createCpu[0]);
    const double budgetMiB = 32.0 + 64.0 * (fmFrames + lmFrames) / 1048576.0;
    std::printf("peak memory of Create: %.1f MiB (budget %.1f MiB = 32 MiB + 64 B x %d frames) %s\n",
                peakRss / 1024.0, budgetMiB, fmFrames + lmFrames,
                peakRss / 1024.0 < budgetMiB ? "ok" : "OVER");

    // Cold cache: bytes read from the sources against the bytes copied.
    ::sync();
    const bool dropped = dropAllCaches();
    coolDown(fmPath);
    coolDown(lmPath);
    const ChildRun cold = runCreate(fmPath, lmPath, plan, finalPath);
    if (!cold.ok)
        return 1;
    std::printf("cold cache (%s): %.1f MB read from storage, %.1f MB through read calls, for %.1f MB copied: "
                "%.3f x (goal <= 1.1), %.0f MB/s\n",
                dropped ? "caches dropped" : "source pages dropped with POSIX_FADV_DONTNEED",
                cold.readBytes / 1048576.0, cold.readChars / 1048576.0, copiedBytes / 1048576.0,
                static_cast<double>(cold.readBytes) / static_cast<double>(copiedBytes),
                megabytesPerSecond(finalSize, cold.seconds));
    fs::remove(ddPath);

    // A Final AVI above 1 GB: every frame of a large FM.
    constexpr int32_t kBigFrames = 30000;
    if (!makeSource(bigPath, kBigFrames, {120000, 40000, 120000, 40000}, 3))
        return 1;
    core::PlanTable allFm;
    allFm.setSize(kBigFrames / kKeyframeDistance);
    for (int32_t g = 0; g < allFm.count(); ++g)
        allFm[g].choice = core::GroupChoice::High;
    warm(bigPath);
    const ChildRun big = runCreate(bigPath, bigPath, allFm, finalPath);
    const std::vector<std::string> parts = riffParts(finalPath);
    std::string partList;
    for (const std::string& part : parts)
        partList += (partList.empty() ? "" : ", ") + part;
    const std::string packets =
        commandOutput("ffprobe -v error -count_packets -select_streams v -show_entries "
                      "stream=nb_read_packets -of csv=p=0 '" +
                      finalPath + "'");
    std::printf("large Final AVI: %s, %.1f MB, RIFF parts: %s; ffprobe counts %s of %d frames\n",
                big.ok ? "written" : "FAILED", fs::file_size(finalPath) / 1048576.0, partList.c_str(),
                packets.empty() ? "nothing" : packets.substr(0, packets.find('\n')).c_str(), kBigFrames);
    fs::remove(finalPath);
    return 0;
}
