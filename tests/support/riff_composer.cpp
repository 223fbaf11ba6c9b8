#include "riff_composer.h"

#include <algorithm>

namespace test_support {

std::vector<uint8_t> words(const std::vector<uint32_t>& values, size_t minBytes)
{
    std::vector<uint8_t> out(std::max(values.size() * 4, minBytes), 0);
    for (size_t i = 0; i < values.size() * 4; ++i)
        out[i] = static_cast<uint8_t>(values[i / 4] >> (8 * (i % 4)));
    return out;
}

std::vector<uint8_t> compose(const RiffChunk& c, std::map<int32_t, int64_t>* positions,
                             std::vector<uint8_t> out)
{
    const size_t start = out.size();
    if (c.mark >= 0 && positions != nullptr)
        (*positions)[c.mark] = static_cast<int64_t>(start);
    const std::vector<uint8_t> head = words({c.id, 0, c.listType});
    const bool isList = c.id == core::fourcc("RIFF") || c.id == core::fourcc("LIST");
    out.insert(out.end(), head.begin(), head.begin() + (isList ? 12 : 8));
    for (const RiffChunk& child : c.children)
        out = compose(child, positions, std::move(out));
    out.insert(out.end(), c.data.begin(), c.data.end());
    const uint32_t size = c.sizeField.value_or(static_cast<uint32_t>(out.size() - start - 8));
    if (out.size() % 2 != 0)
        out.push_back(0);
    std::copy_n(words({size}).begin(), 4, out.begin() + static_cast<ptrdiff_t>(start) + 4);
    return out;
}

RiffChunk chunk(const char (&id)[5], std::vector<uint8_t> data, int32_t mark)
{
    return {core::fourcc(id), std::move(data), 0, {}, std::nullopt, mark};
}

RiffChunk list(const char (&type)[5], std::vector<RiffChunk> children, bool riff)
{
    return {core::fourcc(riff ? "RIFF" : "LIST"), {}, core::fourcc(type), std::move(children), {}, -1};
}

std::vector<uint8_t> streamHeader(uint32_t type, uint32_t handler, uint32_t rate, uint32_t scale,
                                  uint32_t length)
{
    // flags, priority and language, initial frames; start; buffer size, quality, sample size, frame
    return words({type, handler, 0, 0, 0, scale, rate, 0, length, 0x100000, 0xFFFFFFFFu, 0, 0, 0});
}

std::vector<uint8_t> bitmapFormat(int32_t width, int32_t height, uint32_t compression, size_t formatBytes)
{
    const auto w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
    return words({40, w, h, 1 | 24 << 16, compression, static_cast<uint32_t>(width * height * 3), 0, 0, 0, 0},
                 formatBytes);
}

std::vector<uint8_t> mainHeader(uint32_t frames, uint32_t streams, uint32_t width, uint32_t height)
{
    return words({40000, 0, 0, 0x10, frames, 0, streams, 0, width, height}, 56);
}

int64_t MemoryFileIo::readAt(int64_t offset, std::span<uint8_t> out)
{
    if (offset < 0) {
        m_errorText = "Invalid argument";
        return -1;
    }
    const int64_t count = std::clamp<int64_t>(size() - offset, 0, std::ssize(out));
    std::copy_n(m_bytes->begin() + std::min(offset, size()), count, out.begin());
    return count;
}

bool MemoryFileIo::writeAt(int64_t offset, std::span<const uint8_t> data)
{
    if (offset < 0 || (m_failWritesAfter >= 0 && m_written + std::ssize(data) > m_failWritesAfter)) {
        m_errorText = "No space left on device";
        return false;
    }
    m_written += std::ssize(data);
    m_bytes->resize(std::max(m_bytes->size(), static_cast<size_t>(offset) + data.size()), 0);
    std::copy(data.begin(), data.end(), m_bytes->begin() + offset);
    return true;
}

} // namespace test_support
