#include "profiles/profile_file.h"

// Values are kept as the bytes the file holds, so no wide-character conversion is needed; the
// parser is compiled into this file rather than taken from the packaged library.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <string>

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

bool writeWholeFile(const std::string& path, const std::string& content)
{
    std::FILE* raw = std::fopen(path.c_str(), "wb");
    if (raw == nullptr)
        return false;
    FilePtr file(raw);
    const bool written = std::fwrite(content.data(), 1, content.size(), file.get()) == content.size();
    // Closing flushes the buffer: its result is part of the write.
    return std::fclose(file.release()) == 0 && written;
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
    return writeWholeFile(path, content);
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
    settings.finalSizeMB = readNumber(ini, "FinalSize");
    settings.highBitrateLimit = readNumber(ini, "HighBitrateLimit");
    settings.sceneSwitchingSmoother = readFlag(ini, "SceneSwitchingSmoother");
}

} // namespace profiles
