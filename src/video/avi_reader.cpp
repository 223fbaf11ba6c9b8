#include "video/avi_reader.h"

#include "core/default_init_allocator.h"
#include "video/riff.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace video {

namespace {

using riff::getI16;
using riff::getI32;
using riff::getU16;
using riff::getU32;
using riff::getU64;

// One sample of a stream: where its data starts, how long it is, whether it is a key frame.
// Plain data, so an index sized for the entries read next is not zeroed first.
struct SampleEntry {
    int64_t offset;
    uint32_t size;
    uint32_t key;
};
static_assert(sizeof(SampleEntry) == 16, "the index must stay small for long films");

// Storage whose added elements are left for the caller to set.
template <typename T> using UnsetVector = std::vector<T, core::DefaultInitAllocator<T>>;
using Bytes = UnsetVector<uint8_t>;

// A 'LIST movi' of one RIFF part: its children lie in [dataStart, end).
struct MoviList {
    int64_t fourccPos = 0; // position of the 'movi' type, the base of relative idx1 offsets
    int64_t dataStart = 0;
    int64_t end = 0;
    bool firstPart = false;
};

struct StreamData {
    core::AviStreamInfo info;
    std::vector<uint8_t> format;
    std::vector<uint8_t> indx; // data of the stream's OpenDML index chunk, when it has one
    UnsetVector<SampleEntry> samples;
    UnsetVector<int32_t> keys;  // positions of the key frames, ascending
    mutable size_t keyHint = 0; // where the last key-frame look-up ended
    bool indexed = false;
};

// Sizes that writers leave unpatched when they never finished the file.
bool isUnfinishedSize(uint32_t size)
{
    return size == 0 || size == 0xFFFFFFFFu || size == 0x7FFFFFFFu || size == 0x7F000000u;
}

constexpr int64_t kMaxHeaderBytes = 64LL * 1024 * 1024;
constexpr int32_t kMaxSamples = std::numeric_limits<int32_t>::max() - 1;
// Sample sizes are handed on as 32-bit signed counts; OpenDML entries cannot exceed it either.
constexpr uint32_t kMaxSampleBytes = 0x7FFFFFFFu;

// Reads a file sequentially through a block buffer, so scanning many small chunks costs few
// system calls.
class BlockReader {
public:
    BlockReader(FileIo& file, int64_t fileSize) : m_file(file), m_fileSize(fileSize) {}

    // Copies up to out.size() bytes at offset; returns the count available.
    size_t read(int64_t offset, std::span<uint8_t> out)
    {
        if (offset < 0 || offset >= m_fileSize)
            return 0;
        const int64_t want = std::min<int64_t>(static_cast<int64_t>(out.size()), m_fileSize - offset);
        if (offset < m_blockStart || offset + want > m_blockStart + m_blockBytes) {
            // A file smaller than a block needs no more room than its size.
            const auto blockBytes = static_cast<size_t>(std::min<int64_t>(kBlockBytes, m_fileSize));
            if (!m_block)
                m_block = std::make_unique_for_overwrite<uint8_t[]>(blockBytes);
            const int64_t got = m_file.readAt(offset, std::span<uint8_t>(m_block.get(), blockBytes));
            m_blockStart = offset;
            m_blockBytes = std::max<int64_t>(got, 0);
        }
        const int64_t have = std::min<int64_t>(want, m_blockStart + m_blockBytes - offset);
        if (have <= 0)
            return 0;
        std::memcpy(out.data(), m_block.get() + (offset - m_blockStart), static_cast<size_t>(have));
        return static_cast<size_t>(have);
    }

private:
    static constexpr size_t kBlockBytes = 1 << 20;
    FileIo& m_file;
    int64_t m_fileSize = 0;
    std::unique_ptr<uint8_t[]> m_block; // allocated at the first read

    int64_t m_blockStart = 0;
    int64_t m_blockBytes = 0;
};

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

// Builds the sample index of an opened file: headers first, then the OpenDML index, idx1, or a
// scan of the movi lists, whichever is usable.
class Indexer {
public:
    Indexer(FileIo& file, int64_t fileSize) : m_file(file), m_fileSize(fileSize) {}

    AviStatus run(std::vector<StreamData>& streams, std::string& errorText)
    {
        std::array<uint8_t, 12> head{};
        if (m_fileSize < 12 || !readExactly(0, head) || getU32(head, 0) != riff::kRiff ||
            getU32(head, 8) != riff::kAvi) {
            errorText = "not an AVI file";
            return AviStatus::NotAvi;
        }
        walkTopLevel();
        if (!m_hdrlFound) {
            errorText = "the AVI file has no header list";
            return AviStatus::NotAvi;
        }
        buildIndexes();
        for (StreamData& stream : m_streams)
            finishStream(stream);
        streams = std::move(m_streams);
        return AviStatus::Ok;
    }

private:
    bool readExactly(int64_t offset, std::span<uint8_t> out)
    {
        if (offset < 0 || offset > m_fileSize || static_cast<int64_t>(out.size()) > m_fileSize - offset)
            return false;
        return m_file.readAt(offset, out) == static_cast<int64_t>(out.size());
    }

    // Reads up to length bytes at offset, fewer when the file ends earlier.
    Bytes readClamped(int64_t offset, int64_t length)
    {
        Bytes bytes;
        if (offset < 0 || offset >= m_fileSize || length <= 0)
            return bytes;
        bytes.resize(static_cast<size_t>(std::min(length, m_fileSize - offset)));
        const int64_t got = m_file.readAt(offset, bytes);
        bytes.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
        return bytes;
    }

    // End of a chunk or list starting at pos whose size field says size, limited by limit;
    // unfinished sizes reach to limit.
    static int64_t endOf(int64_t pos, uint32_t size, int64_t limit)
    {
        if (isUnfinishedSize(size))
            return limit;
        return std::min(pos + 8 + static_cast<int64_t>(size), limit);
    }

    void walkTopLevel()
    {
        int64_t pos = 0;
        bool first = true;
        while (pos + 12 <= m_fileSize) {
            std::array<uint8_t, 12> head{};
            if (!readExactly(pos, head))
                break;
            const uint32_t id = getU32(head, 0);
            const uint32_t size = getU32(head, 4);
            if (id == 0) {
                // Some writers leave zero bytes between top-level chunks.
                pos += 4;
                continue;
            }
            if (!riff::isPlausibleId(id))
                break;
            if (id != riff::kRiff) {
                pos += riff::chunkSpan(size);
                continue;
            }
            const uint32_t type = getU32(head, 8);
            const int64_t end = endOf(pos, size, m_fileSize);
            int64_t next = isUnfinishedSize(size) ? m_fileSize : pos + riff::chunkSpan(size);
            if ((first && type == riff::kAvi) || (!first && type == riff::kAviX)) {
                const int64_t stoppedAt = walkPart(pos + 12, end, first);
                if (stoppedAt < end)
                    next = stoppedAt; // a part header inside a part whose size was never set
            }
            first = false;
            pos = next;
        }
    }

    // Walks the children of one RIFF part; returns end, or the position of a RIFF header found
    // inside it.
    int64_t walkPart(int64_t start, int64_t end, bool firstPart)
    {
        int64_t pos = start;
        while (pos + 8 <= end) {
            std::array<uint8_t, 12> head{};
            const bool haveType = pos + 12 <= end && readExactly(pos, head);
            if (!haveType && !readExactly(pos, std::span(head).first(8)))
                break;
            const uint32_t id = getU32(head, 0);
            const uint32_t size = getU32(head, 4);
            if (id == 0) {
                pos += 4;
                continue;
            }
            if (id == riff::kRiff)
                return pos;
            if (!riff::isPlausibleId(id))
                break;
            int64_t next = pos + riff::chunkSpan(size);
            if (id == riff::kList && haveType) {
                const uint32_t type = getU32(head, 8);
                if (type == riff::kHdrl && firstPart && !m_hdrlFound) {
                    const int64_t listEnd = std::min(endOf(pos, size, end), pos + 8 + kMaxHeaderBytes);
                    parseHeaderList(readClamped(pos + 12, listEnd - (pos + 12)));
                    m_hdrlFound = true;
                } else if (type == riff::kMovi) {
                    const int64_t listEnd = endOf(pos, size, end);
                    m_moviLists.push_back({pos + 8, pos + 12, listEnd, firstPart});
                    if (isUnfinishedSize(size))
                        next = end;
                }
            } else if (id == riff::kIdx1 && firstPart && m_idx1Pos < 0) {
                m_idx1Pos = pos + 8;
                m_idx1Size = static_cast<int64_t>(size);
            }
            pos = next;
        }
        return end;
    }

    // Calls visit(id, data) for every chunk in bytes (a list's children), LISTs included.
    template <typename Visit> static void forEachChunk(std::span<const uint8_t> bytes, Visit&& visit)
    {
        size_t pos = 0;
        while (pos + 8 <= bytes.size()) {
            const uint32_t id = getU32(bytes, pos);
            const uint32_t size = getU32(bytes, pos + 4);
            const size_t available = bytes.size() - pos - 8;
            const size_t length = std::min<size_t>(size, available);
            visit(id, bytes.subspan(pos + 8, length));
            if (size > available)
                break;
            pos += 8 + static_cast<size_t>(size) + (size & 1);
        }
    }

    void parseHeaderList(std::span<const uint8_t> hdrl)
    {
        forEachChunk(hdrl, [this](uint32_t id, std::span<const uint8_t> data) {
            if (id == riff::kList && data.size() >= 4 && getU32(data, 0) == riff::kStrl)
                parseStreamList(data.subspan(4));
        });
    }

    void parseStreamList(std::span<const uint8_t> strl)
    {
        StreamData stream;
        std::array<uint8_t, 56> strh{};
        bool haveStrh = false;
        forEachChunk(strl, [&](uint32_t id, std::span<const uint8_t> data) {
            if (id == riff::kStrh && !haveStrh) {
                std::copy_n(data.begin(), std::min(data.size(), strh.size()), strh.begin());
                haveStrh = true;
            } else if (id == riff::kStrf && stream.format.empty()) {
                stream.format.assign(data.begin(), data.end());
            } else if (id == riff::kStrn) {
                const size_t length =
                    std::min<size_t>(std::find(data.begin(), data.end(), uint8_t{0}) - data.begin(), 63);
                std::fill(stream.info.szName.begin(), stream.info.szName.end(), '\0');
                std::copy_n(data.begin(), length, stream.info.szName.begin());
            } else if (id == riff::kIndx && stream.indx.empty()) {
                stream.indx.assign(data.begin(), data.end());
            }
        });
        core::AviStreamInfo& info = stream.info;
        const std::span<const uint8_t> h(strh);
        info.fccType = getU32(h, 0);
        info.fccHandler = getU32(h, 4);
        info.dwFlags = getU32(h, 8);
        info.wPriority = getU16(h, 12);
        info.wLanguage = getU16(h, 14);
        info.dwInitialFrames = getU32(h, 16);
        info.dwScale = getU32(h, 20);
        info.dwRate = getU32(h, 24);
        info.dwStart = getU32(h, 28);
        info.dwQuality = getU32(h, 40);
        info.dwSampleSize = getU32(h, 44);
        for (size_t i = 0; i < 4; ++i)
            info.rcFrame[i] = getI16(h, 48 + 2 * i);
        const std::span<const uint8_t> format(stream.format);
        if (info.fccType == core::kStreamTypeVideo && format.size() >= 12 &&
            info.rcFrame == std::array<int32_t, 4>{}) {
            const int32_t height = getI32(format, 8);
            const int32_t absHeight = height >= 0 ? height
                                                  : (height == std::numeric_limits<int32_t>::min()
                                                         ? std::numeric_limits<int32_t>::max()
                                                         : -height);
            info.rcFrame = {0, 0, getI32(format, 4), absHeight};
        }
        if (info.fccType == riff::kAuds && format.size() >= 14)
            info.dwSampleSize = getU16(format, 12); // the block alignment is the audio sample size
        m_streams.push_back(std::move(stream));
    }

    void buildIndexes()
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
        const bool laterParts = std::any_of(m_moviLists.begin(), m_moviLists.end(),
                                            [](const MoviList& m) { return !m.firstPart; });
        // idx1 never covers parts beyond the first, so a file with more parts is scanned instead.
        if (!laterParts && readIdx1())
            return;
        scanMovi();
    }

    // Appends the entries of a standard index (ix## layout) held in data to stream; false when it
    // is not one.
    bool readStandardIndex(std::span<const uint8_t> data, StreamData& stream)
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

    // Every sample needs at least a chunk header in the file; more entries mean a broken index.
    int64_t sampleLimit() const { return std::min<int64_t>(m_fileSize / 8 + 1, kMaxSamples); }

    bool readOpenDmlIndex(StreamData& stream)
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

    // Offsets in idx1 count from the 'movi' type or from the file start; tries each base on the
    // first entries and keeps the one under which they find their chunks. The entries are read
    // a slice at a time.
    bool readIdx1()
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

    // The base of idx1 offsets under which most of the first four data entries in entries find
    // their chunks, or -1 when none does.
    int64_t findIdx1Base(std::span<const uint8_t> entries)
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
                if ((getU32(entries, 16 * i + 4) & riff::kIndexFlagList) != 0 ||
                    riff::streamOfDataChunk(id) < 0)
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

    // Rebuilds the index from the chunks of every movi list. Key flags come from the MPEG-4 VOP
    // type where the compression tells it, else only the first non-empty video chunk is key.
    void scanMovi()
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

    void scanList(BlockReader& reader, int64_t start, int64_t end, int depth,
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
                            const size_t have = reader.read(
                                pos + 8, std::span(data).first(std::min<size_t>(size, data.size())));
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

    // Sets the stream's length and largest sample and lists its key frames. The key list gets
    // room for every sample at once and the index keeps its capacity: room never used is never
    // touched.
    static void finishStream(StreamData& stream)
    {
        uint32_t largest = 0;
        stream.keys.resize(stream.samples.size());
        int32_t* key = stream.keys.data();
        const SampleEntry* entries = stream.samples.data();
        for (size_t i = 0; i < stream.samples.size(); ++i) {
            largest = std::max(largest, entries[i].size);
            if (entries[i].key != 0)
                *key++ = static_cast<int32_t>(i);
        }
        stream.keys.resize(static_cast<size_t>(key - stream.keys.data()));
        stream.info.dwLength = static_cast<uint32_t>(stream.samples.size());
        stream.info.dwSuggestedBufferSize = largest;
    }

    FileIo& m_file;
    int64_t m_fileSize = 0;
    bool m_hdrlFound = false;
    std::vector<StreamData> m_streams;
    std::vector<MoviList> m_moviLists;
    int64_t m_idx1Pos = -1;
    int64_t m_idx1Size = 0;
};

const std::vector<uint8_t> kNoBytes;
const core::AviStreamInfo kNoInfo;

} // namespace

// Byte ranges announced by adviseWillRead are read in large blocks instead of one read per
// sample: a keyframe group's samples lie close together, separated only by chunk headers.
constexpr int64_t kBlockReadBytes = 2 * 1024 * 1024;
constexpr size_t kAnnouncedRanges = 16;
// Announced bytes gathered before they are passed on as one read-ahead hint.
constexpr int64_t kHintBytes = 1024 * 1024;

struct ByteRange {
    int64_t begin = 0;
    int64_t end = 0;
    bool contains(int64_t from, int64_t to) const { return from >= begin && to <= end; }
};

// File bytes read in one go, from which samples are lent. Every loan shares its ownership, so
// the block is read into again only once all loans of its bytes were dropped.
struct Block {
    std::unique_ptr<uint8_t[]> bytes; // capacity bytes; a read fills what range covers
    size_t capacity = 0;
    ByteRange range; // the file bytes held, from bytes[0]
};

struct AviReader::Impl {
    std::unique_ptr<FileIo> file;
    int64_t fileSize = 0; // at opening
    std::vector<StreamData> streams;
    std::string errorText;
    std::array<ByteRange, kAnnouncedRanges> announced{}; // most recent first
    ByteRange pendingHint; // announced bytes not yet handed to the system's read-ahead
    // The block read last and the one before it: while a batch that refers to the older one is
    // still pending, the newer one takes the next bytes. Allocated once, then reused.
    std::array<std::shared_ptr<Block>, 2> blocks;
    size_t latest = 0;

    void passOnHint()
    {
        if (pendingHint.end > pendingHint.begin)
            file->adviseWillRead(pendingHint.begin, pendingHint.end - pendingHint.begin);
        pendingHint = {};
    }

    // The block holding the bytes [offset, end), or nullptr.
    const std::shared_ptr<Block>* blockHolding(int64_t offset, int64_t end) const
    {
        for (const std::shared_ptr<Block>& block : blocks) {
            if (block && block->range.contains(offset, end))
                return &block;
        }
        return nullptr;
    }

    // Lends the entry's bytes, reading a block from its offset first when no block holds them:
    // up to kBlockReadBytes of the announced range it lies in, else the sample alone. An empty
    // sample needs no block.
    AviStatus lend(const SampleEntry& entry, SampleLoan& loan)
    {
        if (entry.size == 0) {
            loan.data = {};
            return AviStatus::Ok;
        }
        const int64_t end = entry.offset + static_cast<int64_t>(entry.size);
        const std::shared_ptr<Block>* held = blockHolding(entry.offset, end);
        if (held == nullptr) {
            // A block only this reader holds is free; the older one is taken first, so the tail
            // of the newer one stays for the samples after it.
            const auto isFree = [](const std::shared_ptr<Block>& block) {
                return !block || block.use_count() == 1;
            };
            size_t slot = 1 - latest;
            if (!isFree(blocks[slot]))
                slot = latest;
            if (!isFree(blocks[slot]))
                return AviStatus::BlocksInUse;
            int64_t want = entry.size;
            const auto range = std::find_if(announced.begin(), announced.end(), [&](const ByteRange& r) {
                return r.contains(entry.offset, end);
            });
            if (range != announced.end()) {
                // What is announced beyond this block is then fetched while this one is used.
                passOnHint();
                want = std::max(want, std::min(range->end - entry.offset, kBlockReadBytes));
            }
            std::shared_ptr<Block>& block = blocks[slot];
            if (!block)
                block = std::make_shared<Block>();
            if (block->capacity < static_cast<size_t>(want)) {
                // No read reaches past the file's end, so a small file needs no full-size block.
                block->capacity = static_cast<size_t>(std::max(want, std::min(kBlockReadBytes, fileSize)));
                block->bytes = std::make_unique_for_overwrite<uint8_t[]>(block->capacity);
            }
            const int64_t got =
                file->readAt(entry.offset, std::span<uint8_t>(block->bytes.get(), static_cast<size_t>(want)));
            if (got < static_cast<int64_t>(entry.size)) {
                block->range = {};
                errorText = got < 0 ? file->errorText() : "unexpected end of file";
                return AviStatus::ReadFailed;
            }
            block->range = {entry.offset, entry.offset + got};
            latest = slot;
            held = &block;
        }
        const Block& block = **held;
        loan.data = {block.bytes.get() + (entry.offset - block.range.begin), entry.size};
        if (loan.holder != *held)
            loan.holder = *held;
        return AviStatus::Ok;
    }

    const StreamData* stream(int32_t index) const
    {
        if (index < 0 || index >= static_cast<int32_t>(streams.size()))
            return nullptr;
        return &streams[static_cast<size_t>(index)];
    }

    // The entry of sample pos of the stream, or nullptr for a position outside the stream.
    const SampleEntry* entry(int32_t index, int32_t pos) const
    {
        const StreamData* data = stream(index);
        if (!data || pos < 0 || pos >= static_cast<int32_t>(data->samples.size()))
            return nullptr;
        return &data->samples[static_cast<size_t>(pos)];
    }
};

AviReader::AviReader(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
AviReader::~AviReader() = default;

AviOpenResult AviReader::open(const std::string& path)
{
    AviOpenResult result;
    std::unique_ptr<FileIo> file = openFileForRead(path, result.errorText);
    if (!file) {
        result.status = AviStatus::CannotOpen;
        return result;
    }
    return open(std::move(file));
}

AviOpenResult AviReader::open(std::unique_ptr<FileIo> file)
{
    AviOpenResult result;
    if (!file) {
        result.status = AviStatus::CannotOpen;
        return result;
    }
    const int64_t fileSize = file->size();
    if (fileSize < 0) {
        result.status = AviStatus::CannotOpen;
        result.errorText = file->errorText();
        return result;
    }
    auto impl = std::make_unique<Impl>();
    Indexer indexer(*file, fileSize);
    result.status = indexer.run(impl->streams, result.errorText);
    if (result.status != AviStatus::Ok)
        return result;
    impl->file = std::move(file);
    impl->fileSize = fileSize;
    result.reader.reset(new AviReader(std::move(impl)));
    return result;
}

int32_t AviReader::streamCount() const
{
    return static_cast<int32_t>(m_impl->streams.size());
}

const core::AviStreamInfo& AviReader::streamInfo(int32_t stream) const
{
    const StreamData* data = m_impl->stream(stream);
    return data ? data->info : kNoInfo;
}

const std::vector<uint8_t>& AviReader::streamFormat(int32_t stream) const
{
    const StreamData* data = m_impl->stream(stream);
    return data ? data->format : kNoBytes;
}

int32_t AviReader::sampleCount(int32_t stream) const
{
    const StreamData* data = m_impl->stream(stream);
    return data ? static_cast<int32_t>(data->samples.size()) : 0;
}

AviStatus AviReader::sampleSize(int32_t stream, int32_t pos, int32_t& bytes) const
{
    bytes = 0;
    const StreamData* data = m_impl->stream(stream);
    if (!data || pos < 0 || pos >= static_cast<int32_t>(data->samples.size()))
        return AviStatus::BadPosition;
    bytes = static_cast<int32_t>(data->samples[static_cast<size_t>(pos)].size);
    return AviStatus::Ok;
}

void AviReader::fillFrameRecords(int32_t stream, std::span<core::FrameRecord> records) const
{
    const StreamData* data = m_impl->stream(stream);
    if (!data)
        return;
    const size_t count = std::min(records.size(), data->samples.size());
    const SampleEntry* entries = data->samples.data();
    for (size_t i = 0; i < count; ++i)
        records[i] = {entries[i].key != 0 ? 1 : 0, static_cast<int32_t>(entries[i].size)};
}

int32_t AviReader::findKeyAtOrBefore(int32_t stream, int32_t pos) const
{
    const StreamData* data = m_impl->stream(stream);
    if (!data || pos < 0 || pos >= static_cast<int32_t>(data->samples.size()))
        return -1;
    const auto& keys = data->keys;
    // Look-ups mostly walk forward frame by frame: try where the last one ended, then the next
    // key frame, before searching.
    const auto fits = [&](size_t k) {
        return k < keys.size() && keys[k] <= pos && (k + 1 == keys.size() || keys[k + 1] > pos);
    };
    for (size_t k = data->keyHint; k < data->keyHint + 2; ++k) {
        if (fits(k)) {
            data->keyHint = k;
            return keys[k];
        }
    }
    const auto after = std::upper_bound(keys.begin(), keys.end(), pos);
    if (after == keys.begin())
        return -1;
    data->keyHint = static_cast<size_t>(after - keys.begin()) - 1;
    return *(after - 1);
}

AviStatus AviReader::readSample(int32_t stream, int32_t pos, std::span<uint8_t> buffer, int32_t& bytesRead)
{
    bytesRead = 0;
    const SampleEntry* entry = m_impl->entry(stream, pos);
    if (!entry)
        return AviStatus::BadPosition;
    if (buffer.size() < entry->size)
        return AviStatus::BufferTooSmall;
    const int64_t end = entry->offset + static_cast<int64_t>(entry->size);
    if (const std::shared_ptr<Block>* held = m_impl->blockHolding(entry->offset, end)) {
        const Block& block = **held;
        std::memcpy(buffer.data(), block.bytes.get() + (entry->offset - block.range.begin), entry->size);
        bytesRead = static_cast<int32_t>(entry->size);
        return AviStatus::Ok;
    }
    const int64_t got = m_impl->file->readAt(entry->offset, buffer.first(entry->size));
    if (got != static_cast<int64_t>(entry->size)) {
        m_impl->errorText = got < 0 ? m_impl->file->errorText() : "unexpected end of file";
        return AviStatus::ReadFailed;
    }
    bytesRead = static_cast<int32_t>(entry->size);
    return AviStatus::Ok;
}

AviStatus AviReader::lendSample(int32_t stream, int32_t pos, int32_t room, SampleLoan& loan)
{
    const SampleEntry* entry = m_impl->entry(stream, pos);
    AviStatus status = AviStatus::BadPosition;
    if (entry)
        status = room < 0 || entry->size > static_cast<uint32_t>(room) ? AviStatus::BufferTooSmall
                                                                       : m_impl->lend(*entry, loan);
    if (status != AviStatus::Ok)
        loan = {};
    return status;
}

void AviReader::adviseWillRead(int32_t stream, int32_t first, int32_t count)
{
    const StreamData* data = m_impl->stream(stream);
    if (!data || count <= 0)
        return;
    const int64_t total = static_cast<int64_t>(data->samples.size());
    const int64_t begin = std::max<int64_t>(first, 0);
    const int64_t end = std::min<int64_t>(static_cast<int64_t>(first) + count, total);
    if (begin >= end)
        return;
    int64_t low = std::numeric_limits<int64_t>::max();
    int64_t high = 0;
    for (int64_t i = begin; i < end; ++i) {
        const SampleEntry& entry = data->samples[static_cast<size_t>(i)];
        if (entry.size == 0)
            continue;
        low = std::min(low, entry.offset);
        high = std::max(high, entry.offset + static_cast<int64_t>(entry.size));
    }
    if (high <= low)
        return;
    // Neighbouring groups of one source lie back to back, apart from chunk headers and padding:
    // one range then covers them all, so a block read can take several groups at once, and the
    // system is told about them in a few large hints rather than one per group.
    constexpr int64_t kChunkGap = 16;
    ByteRange& latest = m_impl->announced.front();
    if (latest.end > latest.begin && low >= latest.begin && low <= latest.end + kChunkGap) {
        latest.end = std::max(latest.end, high);
        ByteRange& hint = m_impl->pendingHint;
        hint = hint.end > hint.begin ? ByteRange{std::min(hint.begin, low), std::max(hint.end, high)}
                                     : ByteRange{low, high};
        if (hint.end - hint.begin >= kHintBytes)
            m_impl->passOnHint();
        return;
    }
    m_impl->passOnHint();
    std::rotate(m_impl->announced.rbegin(), m_impl->announced.rbegin() + 1, m_impl->announced.rend());
    m_impl->announced.front() = {low, high};
    m_impl->pendingHint = {low, high};
}

SampleLocation AviReader::sampleLocation(int32_t stream, int32_t pos) const
{
    const StreamData* data = m_impl->stream(stream);
    if (!data || pos < 0 || pos >= static_cast<int32_t>(data->samples.size()))
        return {};
    const SampleEntry& entry = data->samples[static_cast<size_t>(pos)];
    return {entry.offset, static_cast<int32_t>(entry.size), entry.key != 0};
}

int64_t AviReader::readFileBytes(int64_t offset, std::span<uint8_t> out)
{
    const int64_t got = m_impl->file->readAt(offset, out);
    if (got < 0)
        m_impl->errorText = m_impl->file->errorText();
    return got;
}

void AviReader::adviseSequential()
{
    m_impl->file->adviseSequential();
}

const std::string& AviReader::errorText() const
{
    return m_impl->errorText;
}

std::optional<FileIdentity> AviReader::fileIdentity() const
{
    return m_impl->file->identity();
}

} // namespace video
