#include "cli/job_options.h"

#include "profiles/profile_file.h"

#include <charconv>
#include <limits>
#include <system_error>

namespace cli {

namespace {

// Accepts a whole number from 0 to the largest the job's 32-bit settings hold. Anything else is
// refused with what the option takes and the accepted range, in place of the parser's own words:
// "--frame-pos: -5 is not a frame number (0 or more)".
CLI::Validator wholeNumber(const std::string& meaning)
{
    constexpr long long kLargest = std::numeric_limits<int32_t>::max();
    return CLI::Validator(
        [meaning](std::string& text) -> std::string {
            long long value = 0;
            const char* end = text.data() + text.size();
            const auto [stop, error] = std::from_chars(text.data(), end, value);
            const bool number = stop == end && error != std::errc::invalid_argument;
            if (number && error == std::errc() && value >= 0 && value <= kLargest)
                return {};
            const bool tooLarge = number && text[0] != '-';
            return text + " is not " + meaning +
                   (tooLarge ? " (0 to " + std::to_string(kLargest) + ")" : std::string(" (0 or more)"));
        },
        "");
}

} // namespace

void JobOptions::addTo(CLI::App& command, bool withCreate)
{
    m_profileOption = command.add_option("--profile", m_profile, "Load the settings of a profile file (INI) first")
                          ->check(CLI::ExistingFile);
    m_fmOption = command.add_option("--fm", m_fm, "Fast Motion AVI");
    if (withCreate) {
        m_lmOption = command.add_option("--lm", m_lm, "Low Motion AVI");
        m_finalOption = command.add_option("--final", m_final, "Final AVI to write");
    }
    m_endingOption = command.add_option("--ending", m_ending, "Ending AVI, used from --frame-pos on (turns the ending on)");
    m_framePosOption = command.add_option("--frame-pos", m_framePos, "Film frame at which the Ending AVI takes over")
                           ->check(wholeNumber("a frame number"));
    m_stopAfterOption = command.add_option("--stop-after", m_stopAfter, "End the film after N frames (turns the stop on)")
                            ->check(wholeNumber("a frame count"));
    m_audioOption = command.add_option("--audio", m_audio, "Audio bitrate in Kbps reserved out of the size (default 128)")
                        ->check(wholeNumber("a bitrate in Kbps"));
    m_audioFileOption =
        command.add_option("--audio-file", m_audioFile,
                           "Sound copied into the Final AVI (MP3, MP2, AC-3, DTS, PCM WAV, or the first "
                           "sound of an MKV, MP4 or AVI); its real bytes replace the --audio reserve");
    m_sizeOption = command.add_option("--size", m_size, "Target size of the Final AVI in MB (default 702)")
                       ->check(wholeNumber("a size in MB"));
    m_limitOption = command.add_option("--limit", m_limit, "High bitrate limit in Kbps (default 700)")
                        ->check(wholeNumber("a bitrate in Kbps"));
    // Two plain flags: the parser's own "--smoother,!--no-smoother" shows a "{false}" default in
    // --help, and its exclusions would show as "Excludes:"; checkExclusions() refuses both at once.
    m_smootherOption = command.add_flag("--smoother")->description(
        "Switch single low-motion groups between high-motion ones to high (the default)");
    m_noSmootherOption = command.add_flag("--no-smoother")->description("Leave single low-motion groups low");
    if (withCreate)
        m_statsOption = command.add_flag("--stats", m_stats, "Write stat.txt beside the Final AVI");
}

void JobOptions::checkExclusions() const
{
    if (m_smootherOption->count() > 0 && m_noSmootherOption->count() > 0)
        throw CLI::ExcludesError("--smoother", "--no-smoother");
}

void JobOptions::addLowMotionTo(CLI::App& command)
{
    m_lmOption = command.add_option("--lm", m_lm, "Low Motion AVI");
}

core::JobSettings JobOptions::settings() const
{
    core::JobSettings settings;
    core::applyOpeningDefaults(settings);
    if (m_profileOption->count() > 0)
        profiles::readProfile(m_profile, settings);
    if (m_fmOption->count() > 0)
        settings.fastMotionPath = m_fm;
    if (m_lmOption != nullptr && m_lmOption->count() > 0)
        settings.lowMotionPath = m_lm;
    if (m_finalOption != nullptr && m_finalOption->count() > 0)
        settings.finalPath = m_final;
    if (m_endingOption->count() > 0) {
        settings.endingPath = m_ending;
        settings.endingEnabled = true;
    }
    if (m_framePosOption->count() > 0)
        settings.framePos = m_framePos;
    if (m_stopAfterOption->count() > 0) {
        settings.stopAfterFrames = m_stopAfter;
        settings.stopAfterEnabled = true;
    }
    if (m_audioOption->count() > 0)
        settings.audioKbps = m_audio;
    if (m_audioFileOption->count() > 0)
        settings.audioFilePath = m_audioFile;
    if (m_sizeOption->count() > 0)
        settings.finalSizeMB = m_size;
    if (m_limitOption->count() > 0)
        settings.highBitrateLimit = m_limit;
    if (m_smootherOption->count() > 0)
        settings.sceneSwitchingSmoother = true;
    if (m_noSmootherOption->count() > 0)
        settings.sceneSwitchingSmoother = false;
    if (m_statsOption != nullptr && m_statsOption->count() > 0)
        settings.writeStatisticFile = m_stats;
    return settings;
}

} // namespace cli
