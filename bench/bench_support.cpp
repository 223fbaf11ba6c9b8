#include "bench_support.h"

#include "video/avi_writer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <span>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace bench {

std::string mediaDir()
{
    const fs::path dir = fs::path(KESTRELION_BENCH_DIR) / "bench-media";
    fs::create_directories(dir);
    return dir.string();
}

std::string makeEncodedFilm(const std::string& name, int32_t bitrateKbps)
{
    const std::string path = mediaDir() + "/" + name;
    if (fs::exists(path))
        return path;
    std::printf("making %s with ffmpeg (a few minutes, once) ...\n", path.c_str());
    std::fflush(stdout);
    // A noisy moving picture keeps the encoder near the bitrate asked for in every second.
    const std::string partial = path + ".part.avi";
    const std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=s=320x240:r=25,noise=alls=12:allf=t+u' -frames:v "
        "135000 -c:v mpeg4 -vtag XVID -g 250 -bf 0 -sc_threshold 1000000000 -b:v " +
        std::to_string(bitrateKbps) + "k " + shellQuote(partial);
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg could not make %s\n", partial.c_str());
        std::exit(1);
    }
    fs::rename(partial, path);
    return path;
}

std::string makeFilmAvi(const std::string& name, int32_t averageFrameBytes)
{
    const std::string path = mediaDir() + "/" + name;
    if (fs::exists(path))
        return path;
    constexpr int32_t kFrames = 135000;
    constexpr int32_t kDistance = 25;
    core::AviStreamInfo info;
    info.fccType = core::kStreamTypeVideo;
    info.fccHandler = core::fourcc("XVID");
    info.dwScale = 1;
    info.dwRate = 25;
    info.dwQuality = 0xFFFFFFFF;
    std::vector<uint8_t> format(40, 0);
    format[0] = 40;
    const auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            format[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    };
    put32(4, 640);
    put32(8, 352);
    format[12] = 1;
    format[14] = 12;
    put32(16, core::fourcc("XVID"));
    put32(20, 640 * 352 * 3 / 2);

    const std::string partial = path + ".part";
    video::AviCreateResult created = video::AviWriter::create(partial);
    if (created.status != video::AviStatus::Ok || created.writer->createStream(info) != video::AviStatus::Ok ||
        created.writer->setFormat(format) != video::AviStatus::Ok) {
        std::fprintf(stderr, "cannot write %s: %s\n", partial.c_str(), created.errorText.c_str());
        std::exit(1);
    }
    std::vector<uint8_t> sample(static_cast<size_t>(averageFrameBytes) * 8, 0);
    for (size_t i = 0; i < sample.size(); ++i)
        sample[i] = static_cast<uint8_t>(i * 131 + 7);
    uint32_t noise = 12345;
    for (int32_t i = 0; i < kFrames; ++i) {
        // Scenes of 40 busy seconds follow 40 still ones; key frames are several times larger.
        const bool busy = (i / (kDistance * 40)) % 2 == 0;
        const bool key = i % kDistance == 0;
        noise = noise * 1103515245u + 12345u;
        const int32_t base = busy ? averageFrameBytes * 3 / 2 : averageFrameBytes / 2;
        int32_t size = base / 2 + static_cast<int32_t>((noise >> 8) % static_cast<uint32_t>(base));
        if (key)
            size *= 3;
        const std::span<const uint8_t> data(sample.data(), static_cast<size_t>(std::min<int32_t>(size, static_cast<int32_t>(sample.size()))));
        if (created.writer->writeSample(i, data, key) != video::AviStatus::Ok) {
            std::fprintf(stderr, "cannot write %s: %s\n", partial.c_str(), created.writer->errorText().c_str());
            std::exit(1);
        }
    }
    if (created.writer->finish() != video::AviStatus::Ok) {
        std::fprintf(stderr, "cannot finish %s: %s\n", partial.c_str(), created.writer->errorText().c_str());
        std::exit(1);
    }
    fs::rename(partial, path);
    return path;
}

void analyseSyntheticFilm(core::AnalysisState& state)
{
    constexpr int32_t kFrames = 135000;
    constexpr int32_t kDistance = 25;
    std::mt19937 random(20240607);
    state.fastMotionFrames.setSize(kFrames);
    bool busy = false;
    int32_t sceneEnd = 0;
    for (int32_t i = 0; i < kFrames; ++i) {
        if (i >= sceneEnd) {
            busy = !busy;
            sceneEnd = i + 25 * std::uniform_int_distribution<int32_t>(5, 60)(random);
        }
        const bool key = i % kDistance == 0;
        const int32_t size = key    ? std::uniform_int_distribution<int32_t>(25000, 40000)(random)
                             : busy ? std::uniform_int_distribution<int32_t>(6000, 14000)(random)
                                    : std::uniform_int_distribution<int32_t>(1000, 3000)(random);
        state.fastMotionFrames[i] = {key ? 1 : 0, size};
    }
    state.fastMotionInfo.dwRate = 25;
    state.fastMotionInfo.dwScale = 1;
    state.fastMotionInfo.dwLength = kFrames;
    state.keyframeDistance = kDistance;
    state.totalFrames = kFrames;
    state.groupSeconds = 1;
    state.analysed = true;
}

double timeProgram(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = -1;
    if (child > 0)
        waitpid(child, &status, 0);
    const auto end = std::chrono::steady_clock::now();
    if (child < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "benchmark program failed: %s\n", argv[0].c_str());
        std::exit(1);
    }
    return std::chrono::duration<double, std::milli>(end - start).count();
}

Spread spreadOf(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.front(), values.back()};
}

std::string machineName()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    std::string model = "unknown processor";
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    return model + ", " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " processors";
}

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

} // namespace bench
