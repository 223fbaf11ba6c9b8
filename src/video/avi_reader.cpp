#include "video/avi_reader.h"

#include "video/avi_indexer.h"
#include "video/riff.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace video {

using detail::Indexer;
using detail::SampleEntry;
using detail::StreamData;

namespace {

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
