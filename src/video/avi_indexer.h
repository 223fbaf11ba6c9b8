#pragma once

#include "core/default_init_allocator.h"
#include "core/stream_info.h"
#include "video/avi_status.h"
#include "video/file_io.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <vector>

// What the AVI reader builds when it opens a file, and the indexer that builds it. The indexer's
// work is split by concern: riff_walk.cpp walks the RIFF tree, stream_headers.cpp reads the stream
// headers and formats, avi_index_read.cpp reads idx1 and the OpenDML indexes or scans the movi lists.
namespace video::detail {

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
inline bool isUnfinishedSize(uint32_t size)
{
    return size == 0 || size == 0xFFFFFFFFu || size == 0x7FFFFFFFu || size == 0x7F000000u;
}

inline constexpr int64_t kMaxHeaderBytes = 64LL * 1024 * 1024;
inline constexpr int32_t kMaxSamples = std::numeric_limits<int32_t>::max() - 1;
// Sample sizes are handed on as 32-bit signed counts; OpenDML entries cannot exceed it either.
inline constexpr uint32_t kMaxSampleBytes = 0x7FFFFFFFu;

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

// Builds the sample index of an opened file: headers first, then the OpenDML index, idx1, or a
// scan of the movi lists, whichever is usable.
class Indexer {
public:
    Indexer(FileIo& file, int64_t fileSize) : m_file(file), m_fileSize(fileSize) {}

    // Indexes the file into streams; NotAvi (with errorText) when it is no AVI or has no header list.
    AviStatus run(std::vector<StreamData>& streams, std::string& errorText);

private:
    // Reads out.size() bytes at offset; false when the file holds fewer there.
    bool readExactly(int64_t offset, std::span<uint8_t> out);

    // Reads up to length bytes at offset, fewer when the file ends earlier.
    Bytes readClamped(int64_t offset, int64_t length);

    // End of a chunk or list starting at pos whose size field says size, limited by limit;
    // unfinished sizes reach to limit.
    static int64_t endOf(int64_t pos, uint32_t size, int64_t limit);

    // Walks the file's top-level chunks: every RIFF part, its header list, movi lists and idx1.
    void walkTopLevel();

    // Walks the children of one RIFF part; returns end, or the position of a RIFF header found
    // inside it.
    int64_t walkPart(int64_t start, int64_t end, bool firstPart);

    // Reads the stream header lists of the file's header list.
    void parseHeaderList(std::span<const uint8_t> hdrl);

    // Reads one stream's header, format, name and OpenDML index chunk into a new stream.
    void parseStreamList(std::span<const uint8_t> strl);

    // Indexes every stream from its OpenDML index, else from idx1, else from a scan of the movi lists.
    void buildIndexes();

    // Appends the entries of a standard index (ix## layout) held in data to stream; false when it
    // is not one.
    bool readStandardIndex(std::span<const uint8_t> data, StreamData& stream);

    // Every sample needs at least a chunk header in the file; more entries mean a broken index.
    int64_t sampleLimit() const { return std::min<int64_t>(m_fileSize / 8 + 1, kMaxSamples); }

    // Reads the stream's super index and every standard index it names; false when one is unusable.
    bool readOpenDmlIndex(StreamData& stream);

    // Offsets in idx1 count from the 'movi' type or from the file start; tries each base on the
    // first entries and keeps the one under which they find their chunks. The entries are read
    // a slice at a time.
    bool readIdx1();

    // The base of idx1 offsets under which most of the first four data entries in entries find
    // their chunks, or -1 when none does.
    int64_t findIdx1Base(std::span<const uint8_t> entries);

    // Rebuilds the index from the chunks of every movi list. Key flags come from the MPEG-4 VOP
    // type where the compression tells it, else only the first non-empty video chunk is key.
    void scanMovi();

    // Adds the data chunks between start and end to their streams, descending into 'rec ' lists.
    void scanList(BlockReader& reader, int64_t start, int64_t end, int depth,
                  const std::vector<bool>& vopKeys);

    // Sets the stream's length and largest sample and lists its key frames. The key list gets
    // room for every sample at once and the index keeps its capacity: room never used is never
    // touched.
    static void finishStream(StreamData& stream);

    FileIo& m_file;
    int64_t m_fileSize = 0;
    bool m_hdrlFound = false;
    std::vector<StreamData> m_streams;
    std::vector<MoviList> m_moviLists;
    int64_t m_idx1Pos = -1;
    int64_t m_idx1Size = 0;
};

} // namespace video::detail
