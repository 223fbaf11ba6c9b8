#pragma once

#include "core/job.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

namespace cli {

// The job settings a command takes on the command line. Settings start at the window's opening
// values; --profile loads a profile over them; the other options then override.
class JobOptions {
public:
    // Adds the options analyze and create share to command; withCreate adds --lm, --final, --stats.
    void addTo(CLI::App& command, bool withCreate);
    // Adds --lm to a command without the create options (analyze, fit, verify).
    void addLowMotionTo(CLI::App& command);
    // Throws CLI::ExcludesError when options that exclude each other were both given.
    void checkExclusions() const;
    // Returns the settings the given options describe.
    core::JobSettings settings() const;
    // True when --lm was given.
    bool lowMotionGiven() const { return m_lmOption != nullptr && m_lmOption->count() > 0; }

private:
    std::string m_profile;
    std::string m_fm;
    std::string m_lm;
    std::string m_final;
    std::string m_ending;
    std::string m_audioFile;
    int32_t m_framePos = 0;
    int32_t m_stopAfter = 0;
    int32_t m_audio = 0;
    int32_t m_size = 0;
    int32_t m_limit = 0;
    bool m_stats = false;
    CLI::Option* m_profileOption = nullptr;
    CLI::Option* m_fmOption = nullptr;
    CLI::Option* m_lmOption = nullptr;
    CLI::Option* m_finalOption = nullptr;
    CLI::Option* m_endingOption = nullptr;
    CLI::Option* m_audioFileOption = nullptr;
    CLI::Option* m_framePosOption = nullptr;
    CLI::Option* m_stopAfterOption = nullptr;
    CLI::Option* m_audioOption = nullptr;
    CLI::Option* m_sizeOption = nullptr;
    CLI::Option* m_limitOption = nullptr;
    CLI::Option* m_smootherOption = nullptr;
    CLI::Option* m_noSmootherOption = nullptr;
    CLI::Option* m_statsOption = nullptr;
};

} // namespace cli
