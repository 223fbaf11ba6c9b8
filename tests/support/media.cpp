#include "media.h"

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

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string runCommand(const std::string& command, int& exitCode)
{
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char chunk[65536];
    for (size_t got = 0; pipe != nullptr && (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        output.append(chunk, got);
    const int status = pipe == nullptr ? -1 : pclose(pipe);
    exitCode = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

std::string mediaFile(const MediaSpec& recipe)
{
    std::ostringstream name;
    name << "mpeg4_f" << recipe.frames << "_k" << recipe.keyframeDistance << "_q" << recipe.quantizer
         << (recipe.audioFirst ? "_audio_" : "_") << recipe.width << "x" << recipe.height << ".avi";
    const fs::path path = fs::path(KESTRELION_TEST_SCRATCH_DIR) / "media" / name.str();
    if (fs::exists(path))
        return path.string();
    fs::create_directories(path.parent_path());
    // Made under a private name and renamed, so tests running in parallel never see half a file.
    const std::string partial = path.string() + ".part" + std::to_string(getpid()) + ".avi";
    std::ostringstream command;
    command << "ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=s=" << recipe.width << "x" << recipe.height
            << ":r=25/1,noise=alls=12:allf=t+u";
    // Still scenes repeat one frame: each loop filter holds the frame at a busy scene's end.
    for (int32_t start = 250; start < recipe.frames; start += 500)
        command << ",loop=loop=249:size=1:start=" << start;
    command << ",setpts=N*1/25/TB'";
    // The film's length ends the endless tone; -shortest does not end this ffmpeg when -frames:v is set.
    if (recipe.audioFirst)
        command << " -f lavfi -i sine=frequency=440:sample_rate=22050 -map 1:a -map 0:v -c:a pcm_s16le -t "
                << recipe.frames / 25.0;
    command << " -frames:v " << recipe.frames << " -c:v mpeg4 -vtag XVID -g " << recipe.keyframeDistance
            << " -bf 0 -sc_threshold 1000000000 -q:v " << recipe.quantizer << " " << shellQuote(partial)
            << " 2>&1";
    int exitCode = 0;
    if (const std::string log = runCommand(command.str(), exitCode); exitCode != 0)
        throw std::runtime_error("ffmpeg failed to make " + path.string() + ": " + log);
    fs::rename(partial, path);
    return path.string();
}

std::string fastMotionAvi(int32_t frames, int32_t keyframeDistance)
{
    return mediaFile({.frames = frames, .keyframeDistance = keyframeDistance, .quantizer = 4});
}

std::string lowMotionAvi(int32_t frames, int32_t keyframeDistance)
{
    return mediaFile({.frames = frames, .keyframeDistance = keyframeDistance, .quantizer = 16});
}

std::vector<ProbePacket> probePackets(const std::string& path)
{
    int exitCode = 0;
    std::istringstream lines(runCommand(
        "ffprobe -v error -select_streams v -show_entries packet=size,flags -of csv=p=0 " + shellQuote(path),
        exitCode));
    if (exitCode != 0)
        throw std::runtime_error("ffprobe failed on " + path);
    std::vector<ProbePacket> packets;
    int64_t size = 0;
    char comma = 0;
    // One line per packet: <size>,<flags>, with K first in the flags of a key frame.
    for (std::string flags; lines >> size >> comma >> flags;)
        packets.push_back({flags.starts_with('K'), size});
    return packets;
}

std::string decodeErrors(const std::string& path)
{
    int exitCode = 0;
    const std::string output =
        runCommand("ffmpeg -nostdin -v error -i " + shellQuote(path) + " -f null - 2>&1", exitCode);
    return exitCode != 0 && output.empty() ? "ffmpeg exited with " + std::to_string(exitCode) : output;
}

std::string freshTempDir(const std::string& name)
{
    fs::path dir = fs::path(KESTRELION_TEST_SCRATCH_DIR) / "tmp" / (name + "_" + std::to_string(getpid()));
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
