#include "video/avi_indexer.h"

#include "video/riff.h"

#include <algorithm>
#include <array>
#include <cstring>

// Walks the RIFF tree of an AVI file: the top-level parts, the header list and the movi lists.

namespace video::detail {

using riff::getU32;

AviStatus Indexer::run(std::vector<StreamData>& streams, std::string& errorText)
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

bool Indexer::readExactly(int64_t offset, std::span<uint8_t> out)
{
    if (offset < 0 || offset > m_fileSize || static_cast<int64_t>(out.size()) > m_fileSize - offset)
        return false;
    return m_file.readAt(offset, out) == static_cast<int64_t>(out.size());
}

Bytes Indexer::readClamped(int64_t offset, int64_t length)
{
    Bytes bytes;
    if (offset < 0 || offset >= m_fileSize || length <= 0)
        return bytes;
    bytes.resize(static_cast<size_t>(std::min(length, m_fileSize - offset)));
    const int64_t got = m_file.readAt(offset, bytes);
    bytes.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
    return bytes;
}

int64_t Indexer::endOf(int64_t pos, uint32_t size, int64_t limit)
{
    if (isUnfinishedSize(size))
        return limit;
    return std::min(pos + 8 + static_cast<int64_t>(size), limit);
}

void Indexer::walkTopLevel()
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

int64_t Indexer::walkPart(int64_t start, int64_t end, bool firstPart)
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

} // namespace video::detail
