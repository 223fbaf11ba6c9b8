#include "profiles/profile_file.h"

// Values are kept as the bytes the file holds, so no wide-character conversion is needed; the
// parser is compiled into this file rather than taken from the packaged library.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace profiles {

namespace {

constexpr const char* kSection = "KestrelIon";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Returns the whole content of path; an empty text when the file does not exist, nothing when
// it exists but cannot be read (so a save never replaces a file it could not read first).
std::optional<std::string> readExistingFile(const std::string& path)
{
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return errno == ENOENT ? std::optional<std::string>(std::string()) : std::nullopt;
    std::string content;
    char chunk[8192];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        content.append(chunk, got);
    if (std::ferror(file.get()))
        return std::nullopt;
    return content;
}

// True unless path names an existing file that holds a NUL byte, as films and other binary files
// do and text never does. Reading stops at the first NUL, so a film picked by mistake costs one
// read. A file that cannot be read counts as text: the save then fails on it as usual.
bool isTextOrMissing(const std::string& path)
{
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return true;
    char chunk[8192];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        if (std::memchr(chunk, '\0', got) != nullptr)
            return false;
    }
    return true;
}

// Removes a temporary file unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string pattern) : m_path(std::move(pattern))
    {
        m_fd = ::mkostemp(m_path.data(), O_CLOEXEC);
    }
    ~TemporaryFile()
    {
        if (m_fd >= 0)
            (void)::close(m_fd); // only after an earlier failure
        if (!m_kept)
            (void)::unlink(m_path.c_str()); // what is left of a failed save
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int fd() const { return m_fd; }
    const std::string& path() const { return m_path; }
    // Closes the file; returns false when closing failed.
    bool close() { return ::close(std::exchange(m_fd, -1)) == 0; }
    void keep() { m_kept = true; }

private:
    std::string m_path;
    int m_fd = -1;
    bool m_kept = false;
};

bool writeAll(int fd, const std::string& content)
{
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t put = ::write(fd, content.data() + done, content.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

// Replaces the file at path by content without ever truncating it: the content goes to a
// temporary file beside it, reaches the disk, and is then renamed over the old file, so a failed
// or interrupted save leaves the previous profile whole. A symbolic link stays a link (its target
// is replaced), and the file keeps its permissions; a new file gets 0666 less the umask. A file
// without write permission is refused, as writing into it would be.
bool replaceFile(const std::string& path, const std::string& content)
{
    namespace fs = std::filesystem;
    fs::path target = path;
    mode_t mode = 0;
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        if (::access(path.c_str(), W_OK) != 0)
            return false;
        std::error_code error;
        target = fs::canonical(path, error);
        if (error)
            return false;
        mode = status.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        (void)::umask(mask); // only read
        mode = 0666 & ~mask;
    }
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string temporaryName = ".";
    temporaryName += target.filename().string();
    temporaryName += ".XXXXXX";
    TemporaryFile temporary((folder / temporaryName).string());
    if (temporary.fd() < 0 || !writeAll(temporary.fd(), content) || ::fchmod(temporary.fd(), mode) != 0 ||
        ::fsync(temporary.fd()) != 0 || !temporary.close())
        return false;
    if (::rename(temporary.path().c_str(), target.c_str()) != 0)
        return false;
    temporary.keep();
    // The rename itself reaches the disk with the folder; a failure here loses nothing written.
    if (const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); folderFd >= 0) {
        (void)::fsync(folderFd);
        (void)::close(folderFd);
    }
    return true;
}

void configure(CSimpleIniA& ini)
{
    // Values with blanks at either end are kept whole by quoting them, as the old tool's
    // reader strips one pair of enclosing quotes.
    ini.SetQuotes(true);
    ini.SetSpaces(false);
    ini.SetMultiKey(false);
    ini.SetMultiLine(false);
}

bool isBlankOrComment(std::string_view line)
{
    const size_t first = line.find_first_not_of(" \t\r");
    return first == std::string_view::npos || line[first] == ';' || line[first] == '#';
}

// Returns the comment lines that end content, after its last key or section, with the blank
// lines between them. The parser keeps a comment only with the key or section that follows it,
// so these would otherwise be lost on a save.
std::string trailingComments(const std::string& content)
{
    std::vector<std::string_view> lines;
    const std::string_view text(content);
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    size_t blockStart = lines.size();
    while (blockStart > 0 && isBlankOrComment(lines[blockStart - 1]))
        --blockStart;
    // A file of comments only keeps its first block as the file's own comment.
    if (blockStart == 0)
        return {};
    while (blockStart < lines.size() && lines[blockStart].find_first_not_of(" \t") == std::string_view::npos)
        ++blockStart;
    std::string block;
    for (size_t i = blockStart; i < lines.size(); ++i) {
        block.append(lines[i]);
        block += '\n';
    }
    return block;
}

// Sets key to value in the profile at path: one load, change and save of the whole file, so the
// keys already written stay even when a later one fails. The key keeps its place when present;
// other keys, sections and comments stay.
bool writeKey(const std::string& path, const char* key, const std::string& value)
{
    const std::optional<std::string> existing = readExistingFile(path);
    if (!existing)
        return false;
    CSimpleIniA ini;
    configure(ini);
    if (ini.LoadData(*existing) < 0)
        return false;
    if (ini.SetValue(kSection, key, value.c_str()) < 0)
        return false;
    std::string content;
    if (ini.Save(content, false) < 0)
        return false;
    return replaceFile(path, content + trailingComments(*existing));
}

std::string flagText(bool flag)
{
    return flag ? "1" : "0";
}

bool readFlag(const CSimpleIniA& ini, const char* key)
{
    const char* value = ini.GetValue(kSection, key, "");
    return value[0] == '1';
}

// Reads a number as the standard atol does (blanks, sign, digits up to the first other
// character; 0 without digits), held to the 32-bit range the settings keep.
int32_t readNumber(const CSimpleIniA& ini, const char* key)
{
    const char* value = ini.GetValue(kSection, key, "");
    const long long number = std::strtoll(value, nullptr, 10);
    if (number > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (number < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(number);
}

std::string readText(const CSimpleIniA& ini, const char* key)
{
    return ini.GetValue(kSection, key, "");
}

} // namespace

bool writeProfile(const std::string& path, const core::JobSettings& settings, core::UiPort& ui)
{
    if (!isTextOrMissing(path)) {
        ui.showMessage(core::messages::profileNotText(path));
        return false;
    }
    // Once a write failed, no later key is written.
    bool ok = true;
    const auto write = [&](const char* key, const std::string& value) {
        if (ok)
            ok = writeKey(path, key, value);
    };
    if (!settings.fastMotionPath.empty())
        write("FastMotionAvi", settings.fastMotionPath);
    if (!settings.lowMotionPath.empty())
        write("LowMotionAvi", settings.lowMotionPath);
    if (!settings.finalPath.empty())
        write("FinalAvi", settings.finalPath);
    write("EndingAvi", flagText(settings.endingEnabled));
    if (settings.endingEnabled) {
        if (!settings.endingPath.empty())
            write("VeryLowBitrateAvi", settings.endingPath);
    } else {
        write("StopAfter", flagText(settings.stopAfterEnabled));
    }
    // One key serves both: the ending's start frame wins over the stop point.
    if (settings.endingEnabled || settings.stopAfterEnabled)
        write("FramePos",
              std::to_string(settings.endingEnabled ? settings.framePos : settings.stopAfterFrames));
    write("Audio", std::to_string(settings.audioKbps));
    if (!settings.audioFilePath.empty())
        write("AudioFile", settings.audioFilePath);
    write("FinalSize", std::to_string(settings.finalSizeMB));
    write("HighBitrateLimit", std::to_string(settings.highBitrateLimit));
    write("SceneSwitchingSmoother", flagText(settings.sceneSwitchingSmoother));
    if (!ok)
        ui.showMessage(core::messages::profileSaveFailed());
    return ok;
}

void readProfile(const std::string& path, core::JobSettings& settings)
{
    CSimpleIniA ini;
    configure(ini);
    // A file that is missing or cannot be read reads as empty: every key gives the empty value.
    const std::optional<std::string> content = readExistingFile(path);
    if (content)
        (void)ini.LoadData(*content); // what parsed before an error still counts

    settings.fastMotionPath = readText(ini, "FastMotionAvi");
    settings.lowMotionPath = readText(ini, "LowMotionAvi");
    settings.finalPath = readText(ini, "FinalAvi");
    settings.endingEnabled = readFlag(ini, "EndingAvi");
    if (settings.endingEnabled)
        settings.endingPath = readText(ini, "VeryLowBitrateAvi");
    else
        settings.stopAfterEnabled = readFlag(ini, "StopAfter");
    if (settings.endingEnabled || settings.stopAfterEnabled) {
        const int32_t frames = readNumber(ini, "FramePos");
        if (settings.endingEnabled)
            settings.framePos = frames;
        else
            settings.stopAfterFrames = frames;
    }
    settings.audioKbps = readNumber(ini, "Audio");
    settings.audioFilePath = readText(ini, "AudioFile");
    settings.finalSizeMB = readNumber(ini, "FinalSize");
    settings.highBitrateLimit = readNumber(ini, "HighBitrateLimit");
    settings.sceneSwitchingSmoother = readFlag(ini, "SceneSwitchingSmoother");
}

} // namespace profiles
