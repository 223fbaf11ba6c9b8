#include "riff_composer.h"

#include <algorithm>

namespace test_support {

namespace {

// values as words, zero-padded to at least bytes.
std::vector<uint8_t> words(std::initializer_list<uint32_t> values, size_t bytes = 0)
{
    std::vector<uint8_t> out;
    appendU32s(out, values);
    out.resize(std::max(out.size(), bytes), 0);
    return out;
}

void composeInto(const RiffChunk& c, std::vector<uint8_t>& out, std::map<int32_t, int64_t>* positions)
{
    const size_t start = out.size();
    if (c.mark >= 0 && positions != nullptr)
        (*positions)[c.mark] = static_cast<int64_t>(start);
    appendU32s(out, {c.id, 0});
    if (c.id == core::fourcc("RIFF") || c.id == core::fourcc("LIST")) {
        appendU32s(out, {c.listType});
        for (const RiffChunk& child : c.children)
            composeInto(child, out, positions);
    }
    out.insert(out.end(), c.data.begin(), c.data.end()); // a list has none
    const uint32_t size = c.sizeField.value_or(static_cast<uint32_t>(out.size() - start - 8));
    if (out.size() % 2 != 0)
        out.push_back(0);
    std::ranges::copy(words({size}), out.begin() + static_cast<ptrdiff_t>(start) + 4);
}

} // namespace

RiffChunk chunk(const char (&id)[5], std::vector<uint8_t> data, int32_t mark)
{
    return {core::fourcc(id), std::move(data), 0, {}, std::nullopt, mark};
}

RiffChunk list(const char (&type)[5], std::vector<RiffChunk> children, bool riff)
{
    return {
        core::fourcc(riff ? "RIFF" : "LIST"), {}, core::fourcc(type), std::move(children), std::nullopt, -1};
}

std::vector<uint8_t> compose(const RiffChunk& riff, std::map<int32_t, int64_t>* positions)
{
    std::vector<uint8_t> out;
    composeInto(riff, out, positions);
    return out;
}

void appendU32s(std::vector<uint8_t>& out, std::initializer_list<uint32_t> values)
{
    for (uint32_t value : values)
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(static_cast<uint8_t>(value >> shift));
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

std::vector<uint8_t> pcmFormat(uint32_t sampleRate, uint16_t channels)
{
    return words({1u | channels << 16, sampleRate, sampleRate * channels * 2, channels * 2u | 16 << 16}, 18);
}

std::vector<uint8_t> mainHeader(uint32_t frames, uint32_t streams, int32_t width, int32_t height)
{
    return words({40000, 0, 0, 0x10, frames, 0, streams, 0, static_cast<uint32_t>(width),
                  static_cast<uint32_t>(height), 0, 0, 0, 0});
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
