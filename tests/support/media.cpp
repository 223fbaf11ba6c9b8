#include "media.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace test_support {

namespace {

std::string mediaDir()
{
    const fs::path dir = fs::path(KESTRELION_TEST_SCRATCH_DIR) / "media";
    fs::create_directories(dir);
    return dir.string();
}

std::string recipeName(const MediaSpec& s)
{
    std::ostringstream name;
    name << "mpeg4_f" << s.frames << "_k" << s.keyframeDistance << "_r" << s.rateNum << "-" << s.rateDen << "_q"
         << s.quantizer << "_b" << s.busyFrames << "_s" << s.stillFrames << (s.audioFirst ? "_audio" : "") << "_"
         << s.width << "x" << s.height << ".avi";
    return name.str();
}

// Still scenes repeat one frame: each loop filter holds the frame at a busy scene's end.
std::string videoGraph(const MediaSpec& s)
{
    std::ostringstream graph;
    graph << "testsrc2=s=" << s.width << "x" << s.height << ":r=" << s.rateNum << "/" << s.rateDen
          << ",noise=alls=12:allf=t+u";
    if (s.stillFrames > 0) {
        for (int32_t start = s.busyFrames; start < s.frames; start += s.busyFrames + s.stillFrames)
            graph << ",loop=loop=" << (s.stillFrames - 1) << ":size=1:start=" << start;
    }
    graph << ",setpts=N*" << s.rateDen << "/" << s.rateNum << "/TB";
    return graph.str();
}

} // namespace

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

std::string runCommand(const std::string& command, int& exitCode)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        exitCode = -1;
        return output;
    }
    std::array<char, 65536> chunk{};
    size_t got = 0;
    while ((got = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        output.append(chunk.data(), got);
    const int status = pclose(pipe);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

std::string mediaFile(const MediaSpec& recipe)
{
    const fs::path path = fs::path(mediaDir()) / recipeName(recipe);
    if (fs::exists(path))
        return path.string();
    // Made under a private name and renamed, so tests running in parallel never see half a file.
    const fs::path partial = path.string() + ".part" + std::to_string(getpid()) + ".avi";
    std::ostringstream command;
    command << "ffmpeg -nostdin -v error -y -f lavfi -i " << shellQuote(videoGraph(recipe));
    if (recipe.audioFirst) {
        // The film's length ends the endless tone; -shortest does not end this ffmpeg when -frames:v is set.
        command << " -f lavfi -i sine=frequency=440:sample_rate=22050 -map 1:a -map 0:v -c:a pcm_s16le -t "
                << static_cast<double>(recipe.frames) * recipe.rateDen / recipe.rateNum;
    }
    command << " -frames:v " << recipe.frames << " -c:v mpeg4 -vtag XVID -g " << recipe.keyframeDistance
            << " -bf 0 -sc_threshold 1000000000 -q:v " << recipe.quantizer << " " << shellQuote(partial.string())
            << " 2>&1";
    int exitCode = 0;
    const std::string log = runCommand(command.str(), exitCode);
    if (exitCode != 0)
        throw std::runtime_error("ffmpeg failed to make " + path.string() + ": " + log);
    fs::rename(partial, path);
    return path.string();
}

std::string fastMotionAvi(int32_t frames, int32_t keyframeDistance)
{
    MediaSpec recipe;
    recipe.frames = frames;
    recipe.keyframeDistance = keyframeDistance;
    recipe.quantizer = 4;
    return mediaFile(recipe);
}

std::string lowMotionAvi(int32_t frames, int32_t keyframeDistance)
{
    MediaSpec recipe;
    recipe.frames = frames;
    recipe.keyframeDistance = keyframeDistance;
    recipe.quantizer = 16;
    return mediaFile(recipe);
}

std::vector<ProbePacket> probePackets(const std::string& path)
{
    int exitCode = 0;
    const std::string csv = runCommand("ffprobe -v error -select_streams v -show_entries packet=size,flags -of csv " +
                                           shellQuote(path),
                                       exitCode);
    if (exitCode != 0)
        throw std::runtime_error("ffprobe failed on " + path);
    std::vector<ProbePacket> packets;
    std::istringstream lines(csv);
    std::string line;
    while (std::getline(lines, line)) {
        // packet,<size>,<flags>
        const size_t first = line.find(',');
        const size_t second = line.find(',', first + 1);
        if (first == std::string::npos || second == std::string::npos)
            continue;
        ProbePacket packet;
        packet.size = std::stoll(line.substr(first + 1, second - first - 1));
        packet.key = line.compare(second + 1, 1, "K") == 0;
        packets.push_back(packet);
    }
    return packets;
}

std::string decodeErrors(const std::string& path)
{
    int exitCode = 0;
    std::string output = runCommand("ffmpeg -nostdin -v error -i " + shellQuote(path) + " -f null - 2>&1", exitCode);
    if (exitCode != 0 && output.empty())
        output = "ffmpeg exited with " + std::to_string(exitCode);
    return output;
}

std::string freshTempDir(const std::string& name)
{
    const fs::path dir = fs::path(KESTRELION_TEST_SCRATCH_DIR) / "tmp" / (name + "_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

std::vector<uint8_t> readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace test_support
