#include "engine/source_tables.h"

#include "engine/quiet_ui_port.h"
#include "engine/sound.h"
#include "video/frame_tables.h"

namespace engine {

namespace {

size_t slotOf(SourceRole role)
{
    return static_cast<size_t>(role);
}

// Checks the format of an opened source as Create does; nothing after the message.
std::optional<video::Source> checked(std::optional<video::Source> source, core::UiPort& ui)
{
    core::AviStreamInfo info;
    if (source && !video::readStreamInfo(info, *source, ui))
        source.reset();
    return source;
}

} // namespace

void readSourceTable(SourceTable& table, const video::Source& source)
{
    table.info = source.info();
    table.format = source.format();
    // Every position below sampleCount() has a size, so the read cannot stop at a message.
    QuietUiPort none;
    (void)video::readFrameTable(table.frames, source.sampleCount(), source, none);
}

const SourceTable* OpenedSources::table(SourceRole role, const std::string& path, core::UiPort& ui)
{
    Slot& slot = m_slots[slotOf(role)];
    slot.source.reset();
    if (slot.opening && slot.opening->path() == path)
        slot.source = checked(slot.opening->take(ui), ui);
    else
        slot.source = checked(video::openVideoStream(path, ui), ui);
    slot.opening.reset();
    if (!slot.source)
        return nullptr;
    readSourceTable(slot.table, *slot.source);
    return &slot.table;
}

void OpenedSources::openAhead(SourceRole role, const std::string& path)
{
    m_slots[slotOf(role)].opening.emplace(path);
}

video::Source* OpenedSources::source(SourceRole role)
{
    Slot& slot = m_slots[slotOf(role)];
    return slot.source ? &*slot.source : nullptr;
}

const SourceTable* SourceTableCache::table(SourceRole role, const std::string& path, core::UiPort& ui)
{
    Slot& slot = m_slots[slotOf(role)];
    const std::optional<video::FileStamp> stamp = video::stampOfPath(path);
    if (slot.table && stamp && slot.path == path && slot.stamp == stamp)
        return &*slot.table;
    slot = {path, stamp, std::nullopt};
    std::optional<video::Source> source = checked(video::openVideoStream(path, ui), ui);
    if (!source)
        return nullptr;
    slot.table.emplace();
    readSourceTable(*slot.table, *source);
    ++m_tablesRead;
    return &*slot.table;
}

media::SoundFile* SourceTables::sound(const std::string& path, core::UiPort& ui)
{
    m_sound = openSound(path, ui);
    return m_sound.get();
}

media::SoundFile* SourceTableCache::sound(const std::string& path, core::UiPort& ui)
{
    const std::optional<video::FileStamp> stamp = video::stampOfPath(path);
    if (m_sound && stamp && m_soundPath == path && m_soundStamp == stamp)
        return m_sound.get();
    m_soundPath = path;
    m_soundStamp = stamp;
    return SourceTables::sound(path, ui);
}

} // namespace engine
