#pragma once

#include "core/frame_table.h"
#include "core/stream_info.h"
#include "core/user_interface_port.h"
#include "media/sound_file.h"
#include "video/file_io.h"
#include "video/source.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace engine {

// A source's video stream as read once: its information and format as the file gives them and
// every sample of the stream (size, and key flag where the source's key-frame search finds one),
// the samples Create copies past the film's counted end included.
struct SourceTable {
    core::AviStreamInfo info;
    std::vector<uint8_t> format;
    core::FrameTable frames;
};

// Fills table from the source's index; reads no sample data.
void readSourceTable(SourceTable& table, const video::Source& source);

// The three sources a Final AVI is built from.
enum class SourceRole { FastMotion, LowMotion, Ending };

// Hands out the tables of the sources Create reads.
class SourceTables {
public:
    virtual ~SourceTables() = default;
    // Returns the table of the AVI at path in role, or nullptr after the opening messages Create
    // shows ("Could not open AVI", "Unable to open file", "AVI has no video-stream", "Format too
    // large"). The table stays valid until the next call for the same role.
    virtual const SourceTable* table(SourceRole role, const std::string& path, core::UiPort& ui) = 0;
    // Returns the sound file at path with its packets listed, or nullptr after the messages of
    // engine::openSound. It stays valid until the next call.
    virtual media::SoundFile* sound(const std::string& path, core::UiPort& ui);

protected:
    std::unique_ptr<media::SoundFile> m_sound;
};

// The sources of one command, opened on first use and kept open so their samples can be read;
// each closes when it is reopened or the object is destroyed.
class OpenedSources : public SourceTables {
public:
    const SourceTable* table(SourceRole role, const std::string& path, core::UiPort& ui) override;
    // Starts opening the AVI at path for role on a helper thread; table() takes it over when it
    // asks for that path, so several files are indexed at once.
    void openAhead(SourceRole role, const std::string& path);
    // Returns the source opened in role, or nullptr.
    video::Source* source(SourceRole role);

private:
    struct Slot {
        std::optional<video::SourceOpening> opening;
        std::optional<video::Source> source;
        SourceTable table;
    };
    std::array<Slot, 3> m_slots;
};

// Keeps the last table read for each role, so that counts following every keystroke read no
// file: a role's table is read again only when its path changes or the file at that path was
// rewritten or replaced. Files are closed once read; a file that fails to open is tried again on
// the next call.
class SourceTableCache : public SourceTables {
public:
    const SourceTable* table(SourceRole role, const std::string& path, core::UiPort& ui) override;
    // Lists the sound file's packets again only when its path changes or the file was rewritten.
    media::SoundFile* sound(const std::string& path, core::UiPort& ui) override;
    // Returns how many tables were read from files so far.
    int32_t tablesRead() const { return m_tablesRead; }

private:
    std::string m_soundPath;
    std::optional<video::FileStamp> m_soundStamp;
    struct Slot {
        std::string path;
        std::optional<video::FileStamp> stamp;
        std::optional<SourceTable> table;
    };
    std::array<Slot, 3> m_slots;
    int32_t m_tablesRead = 0;
};

} // namespace engine
