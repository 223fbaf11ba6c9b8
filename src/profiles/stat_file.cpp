#include "profiles/stat_file.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace profiles {

namespace {

constexpr const char* kStatFileName = "stat.txt";

#ifdef _WIN32
constexpr const char* kFolderSeparators = "\\/";
#else
constexpr const char* kFolderSeparators = "/";
#endif

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Writes one line per record: index right-aligned in six columns, 'K' for a key frame, size.
bool writeFrameLines(std::FILE* file, const core::FrameTable& table)
{
    for (int32_t i = 0; i < table.count(); ++i) {
        if (std::fprintf(file, "%6d%c - %d\n", i, table[i].isKey != 0 ? 'K' : ' ', table[i].size) < 0)
            return false;
    }
    return true;
}

bool writeContent(std::FILE* file, const core::Job& job)
{
    const core::JobSettings& settings = job.settings;
    const core::AnalysisState& state = job.state;
    if (std::fputs("Kestrel - Ion Statistic file\n\nFM-AVI\n\n", file) < 0)
        return false;
    if (!writeFrameLines(file, state.fastMotionFrames))
        return false;
    if (std::fputs("\n\nLM-AVI\n\n", file) < 0)
        return false;
    if (!writeFrameLines(file, state.lowMotionFrames))
        return false;
    if (settings.endingEnabled) {
        if (std::fprintf(file, "\n\nVLB-AVI: pos=%d size=%" PRId64 "\n\n", settings.framePos,
                         state.endingBytes) < 0)
            return false;
    } else if (settings.stopAfterEnabled) {
        if (std::fprintf(file, "\n\nStop after: %d\n", settings.stopAfterFrames) < 0)
            return false;
    }
    return std::fprintf(file, "\n\nFinal AVI-size: %" PRId64 "\n", state.finalBytes) >= 0;
}

} // namespace

std::string statFilePath(const std::string& finalPath)
{
    const size_t separator = finalPath.find_last_of(kFolderSeparators);
    if (separator == std::string::npos)
        return kStatFileName;
    return finalPath.substr(0, separator + 1) + kStatFileName;
}

bool writeStatFile(const std::string& finalPath, const core::Job& job, core::UiPort& ui)
{
    const std::string statPath = statFilePath(finalPath);
    // Text mode: line ends follow the host's convention for text files.
    FilePtr file(std::fopen(statPath.c_str(), "w"));
    if (!file) {
        ui.showMessage(core::messages::statFileCreateFailed(statPath));
        return false;
    }
    bool written = writeContent(file.get(), job);
    int error = written ? 0 : errno;
    // Closing flushes what the stream still holds, so its result decides as much as the writes.
    if (std::fclose(file.release()) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        ui.showMessage(core::messages::statFileWriteFailed(statPath, std::strerror(error)));
        return false;
    }
    return true;
}

} // namespace profiles
