#include "video/avi_indexer.h"

#include "video/riff.h"

#include <algorithm>
#include <array>
#include <cstring>

// Reads the sample indexes: the OpenDML indexes, idx1, or a scan of the movi lists.

namespace video::detail {

using riff::getU16;
using riff::getU32;
using riff::getU64;

namespace {

bool equalsIgnoringCase(uint32_t a, uint32_t b)
{
    for (int i = 0; i < 4; ++i) {
        auto lower = [](uint32_t v) {
            const auto c = static_cast<uint8_t>(v);
            return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 32) : c;
        };
        if (lower(a >> (8 * i)) != lower(b >> (8 * i)))
            return false;
    }
    return true;
}

// True for the compression codes of MPEG-4 Visual video, whose frames start with a VOP header.
bool isMpeg4Compression(uint32_t code)
{
    static constexpr std::array kCodes = {core::fourcc("XVID"), core::fourcc("DIVX"), core::fourcc("DX50"),
                                          core::fourcc("FMP4"), core::fourcc("MP4V"), core::fourcc("M4S2"),
                                          core::fourcc("MP4S"), core::fourcc("3IV2"), core::fourcc("RMP4"),
                                          core::fourcc("SMP4"), core::fourcc("UMP4"), core::fourcc("BLZ0"),
                                          core::fourcc("DXGM")};
    return std::any_of(kCodes.begin(), kCodes.end(),
                       [code](uint32_t c) { return equalsIgnoringCase(c, code); });
}

// True when the first VOP header in data codes an intra (I) picture.
bool startsWithIntraVop(std::span<const uint8_t> data)
{
    for (size_t i = 0; i + 4 < data.size(); ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB6)
            return (data[i + 4] >> 6) == 0;
    }
    return false;
}

} // namespace

void Indexer::buildIndexes()
{
    bool anyLeft = false;
    for (StreamData& stream : m_streams) {
        if (!stream.indx.empty() && readOpenDmlIndex(stream))
            stream.indexed = true;
        else
            anyLeft = true;
    }
    if (!anyLeft)
        return;
    const bool laterParts =
        std::any_of(m_moviLists.begin(), m_moviLists.end(), [](const MoviList& m) { return !m.firstPart; });
    // idx1 never covers parts beyond the first, so a file with more parts is scanned instead.
    if (!laterParts && readIdx1())
        return;
    scanMovi();
}

bool Indexer::readStandardIndex(std::span<const uint8_t> data, StreamData& stream)
{
    if (data.size() < 24 || getU16(data, 0) != 2 || data[2] != 0 || data[3] != riff::kIndexOfChunks)
        return false;
    const size_t count = std::min<size_t>(getU32(data, 4), (data.size() - 24) / 8);
    uint64_t base = getU64(data, 12);
    if (base >= static_cast<uint64_t>(m_fileSize) && (base >> 32) == (base & 0xFFFFFFFFu))
        base &= 0xFFFFFFFFu; // a known writer repeats the low half in the high half
    if (base >= static_cast<uint64_t>(m_fileSize))
        return false;
    // Sized once for every entry; entries that point past the end of the file are left out.
    const size_t before = stream.samples.size();
    const auto limit = static_cast<size_t>(sampleLimit());
    stream.samples.resize(before + count);
    SampleEntry* const out = stream.samples.data() + before;
    size_t kept = 0;
    bool ok = true;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t rawSize = getU32(data, 24 + 8 * i + 4);
        const int64_t offset = static_cast<int64_t>(base) + getU32(data, 24 + 8 * i);
        const uint32_t size = rawSize & ~riff::kDeltaFrameBit;
        if (offset + static_cast<int64_t>(size) > m_fileSize)
            continue; // the file was cut before this sample
        if (before + kept >= limit) {
            ok = false;
            break;
        }
        out[kept++] = {offset, size, (rawSize & riff::kDeltaFrameBit) == 0 && size > 0 ? 1u : 0u};
    }
    stream.samples.resize(before + kept);
    return ok;
}

bool Indexer::readOpenDmlIndex(StreamData& stream)
{
    const std::span<const uint8_t> indx(stream.indx);
    if (indx.size() < 24)
        return false;
    bool ok = false;
    if (indx[3] == riff::kIndexOfChunks) {
        ok = readStandardIndex(indx, stream);
    } else if (indx[3] == riff::kIndexOfIndexes && getU16(indx, 0) == 4 && indx[2] == 0) {
        const size_t count = std::min<size_t>(getU32(indx, 4), (indx.size() - 24) / 16);
        ok = count > 0;
        // Each entry tells how many samples its chunk indexes: the index is allocated once
        // when that holds, and anyway never more often than a vector grows.
        uint64_t announcedSamples = 0;
        for (size_t i = 0; i < count; ++i)
            announcedSamples += getU32(indx, 24 + 16 * i + 12);
        stream.samples.reserve(static_cast<size_t>(std::min<uint64_t>(announcedSamples, sampleLimit())));
        Bytes chunk;
        for (size_t i = 0; i < count && ok; ++i) {
            const uint64_t offset = getU64(indx, 24 + 16 * i);
            const uint32_t size = getU32(indx, 24 + 16 * i + 8);
            if (size < 32 || offset >= static_cast<uint64_t>(m_fileSize) ||
                static_cast<int64_t>(size) > m_fileSize - static_cast<int64_t>(offset)) {
                ok = false;
                break;
            }
            chunk.resize(size);
            ok = readExactly(static_cast<int64_t>(offset), chunk) &&
                 readStandardIndex(std::span<const uint8_t>(chunk).subspan(8), stream);
        }
    }
    if (!ok)
        stream.samples.clear();
    return ok;
}

bool Indexer::readIdx1()
{
    if (m_idx1Pos < 0 || m_idx1Pos + m_idx1Size > m_fileSize)
        return false; // missing, or cut short by a truncated file: the movi lists are complete
    constexpr size_t kSliceEntries = 4096;
    const auto count = static_cast<size_t>(m_idx1Size / 16);
    Bytes slice(16 * std::min(count, kSliceEntries));
    if (!readExactly(m_idx1Pos, slice))
        return false;
    const int64_t bestBase = findIdx1Base(slice);
    if (bestBase < 0)
        return false;

    // Every stream indexed here gets room for all entries at once; what a stream does not
    // use of it is never touched. next[k] is where stream k's next entry goes.
    std::vector<SampleEntry*> next(m_streams.size(), nullptr);
    for (size_t k = 0; k < m_streams.size(); ++k) {
        if (!m_streams[k].indexed) {
            m_streams[k].samples.resize(count);
            next[k] = m_streams[k].samples.data();
        }
    }
    // Entries of one stream mostly follow each other: the stream of the last id is kept, with
    // its write position, until the id changes.
    uint32_t lastId = 0;
    int32_t lastStream = -1;
    SampleEntry* write = nullptr;
    const auto switchTo = [&](uint32_t id) {
        if (lastStream >= 0)
            next[static_cast<size_t>(lastStream)] = write;
        lastId = id;
        lastStream = riff::streamOfDataChunk(id);
        if (lastStream >= static_cast<int32_t>(m_streams.size()))
            lastStream = -1;
        write = lastStream >= 0 ? next[static_cast<size_t>(lastStream)] : nullptr;
    };
    switchTo(count > 0 ? getU32(slice, 0) : 0);
    for (size_t first = 0; first < count; first += kSliceEntries) {
        const size_t inSlice = std::min(kSliceEntries, count - first);
        if (first > 0 && !readExactly(m_idx1Pos + 16 * static_cast<int64_t>(first),
                                      std::span<uint8_t>(slice.data(), 16 * inSlice)))
            break; // the size was checked against the file: only a failing read ends here
        const std::span<const uint8_t> entries(slice.data(), 16 * inSlice);
        for (size_t i = 0; i < inSlice; ++i) {
            const uint32_t id = getU32(entries, 16 * i);
            if (id != lastId)
                switchTo(id);
            const uint32_t flags = getU32(entries, 16 * i + 4);
            if ((flags & riff::kIndexFlagList) != 0 || write == nullptr)
                continue;
            const int64_t offset = bestBase + getU32(entries, 16 * i + 8) + 8;
            const uint32_t size = getU32(entries, 16 * i + 12);
            if (offset + static_cast<int64_t>(size) > m_fileSize || size > kMaxSampleBytes)
                continue;
            *write++ = {offset, size, (flags & riff::kIndexFlagKey) != 0 && size > 0 ? 1u : 0u};
        }
    }
    switchTo(0);
    for (size_t k = 0; k < m_streams.size(); ++k) {
        StreamData& stream = m_streams[k];
        if (!stream.indexed)
            stream.samples.resize(static_cast<size_t>(next[k] - stream.samples.data()));
    }
    return true;
}

int64_t Indexer::findIdx1Base(std::span<const uint8_t> entries)
{
    const size_t count = entries.size() / 16;
    std::vector<int64_t> bases;
    for (const MoviList& movi : m_moviLists)
        bases.push_back(movi.fourccPos);
    bases.push_back(0);
    int64_t bestBase = -1;
    int32_t bestMatches = 0;
    for (int64_t base : bases) {
        int32_t matches = 0;
        int32_t tried = 0;
        for (size_t i = 0; i < count && tried < 4; ++i) {
            const uint32_t id = getU32(entries, 16 * i);
            if ((getU32(entries, 16 * i + 4) & riff::kIndexFlagList) != 0 || riff::streamOfDataChunk(id) < 0)
                continue;
            ++tried;
            std::array<uint8_t, 8> head{};
            const int64_t at = base + getU32(entries, 16 * i + 8);
            if (readExactly(at, head) &&
                riff::streamOfDataChunk(getU32(head, 0)) == riff::streamOfDataChunk(id) &&
                getU32(head, 4) == getU32(entries, 16 * i + 12))
                ++matches;
        }
        if (matches > bestMatches) {
            bestMatches = matches;
            bestBase = base;
        }
    }
    return bestBase;
}

void Indexer::scanMovi()
{
    BlockReader reader(m_file, m_fileSize);
    std::vector<bool> vopKeys(m_streams.size(), false);
    for (size_t s = 0; s < m_streams.size(); ++s) {
        const StreamData& stream = m_streams[s];
        const uint32_t compression =
            stream.format.size() >= 20 ? getU32(std::span<const uint8_t>(stream.format), 16) : 0;
        vopKeys[s] = stream.info.fccType == core::kStreamTypeVideo &&
                     (isMpeg4Compression(compression) || isMpeg4Compression(stream.info.fccHandler));
    }
    for (const MoviList& movi : m_moviLists)
        scanList(reader, movi.dataStart, movi.end, 0, vopKeys);
}

void Indexer::scanList(BlockReader& reader, int64_t start, int64_t end, int depth,
                       const std::vector<bool>& vopKeys)
{
    int64_t pos = start;
    while (pos + 8 <= end) {
        std::array<uint8_t, 12> head{};
        const size_t got = reader.read(pos, head);
        if (got < 8)
            return;
        const uint32_t id = getU32(head, 0);
        const uint32_t size = getU32(head, 4);
        if (id == riff::kList) {
            if (got == 12 && getU32(head, 8) == riff::kRec && depth < 4)
                scanList(reader, pos + 12, endOf(pos, size, end), depth + 1, vopKeys);
            pos += riff::chunkSpan(size);
            continue;
        }
        if (!riff::isPlausibleId(id) || id == riff::kRiff)
            return;
        const int64_t dataEnd = pos + 8 + static_cast<int64_t>(size);
        if (dataEnd > m_fileSize || size > kMaxSampleBytes)
            return; // the file was cut inside this chunk, or it is no chunk
        const int32_t streamNumber = riff::streamOfDataChunk(id);
        if (streamNumber >= 0 && streamNumber < static_cast<int32_t>(m_streams.size())) {
            StreamData& stream = m_streams[static_cast<size_t>(streamNumber)];
            if (!stream.indexed && static_cast<int64_t>(stream.samples.size()) < kMaxSamples) {
                SampleEntry entry{pos + 8, size, 0};
                if (size > 0) {
                    if (vopKeys[static_cast<size_t>(streamNumber)]) {
                        std::array<uint8_t, 512> data{};
                        const size_t have =
                            reader.read(pos + 8, std::span(data).first(std::min<size_t>(size, data.size())));
                        entry.key = startsWithIntraVop(std::span(data).first(have));
                    } else if (stream.info.fccType == core::kStreamTypeVideo) {
                        entry.key = stream.keys.empty();
                        if (entry.key)
                            stream.keys.push_back(0); // marks that the first key frame is taken
                    } else {
                        entry.key = 1;
                    }
                }
                stream.samples.push_back(entry);
            }
        }
        pos += riff::chunkSpan(size);
    }
}

} // namespace video::detail
