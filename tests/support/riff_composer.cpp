#include "riff_composer.h"

#include <algorithm>
#include <cstring>

namespace test_support {

namespace {

void appendU16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void compose(const RiffChunk& c, std::vector<uint8_t>& out, std::vector<int64_t>* positions)
{
    const auto start = static_cast<int64_t>(out.size());
    if (c.mark >= 0 && positions != nullptr) {
        if (positions->size() <= static_cast<size_t>(c.mark))
            positions->resize(static_cast<size_t>(c.mark) + 1, -1);
        (*positions)[static_cast<size_t>(c.mark)] = start;
    }
    appendU32(out, c.id);
    appendU32(out, 0);
    size_t dataBytes = 0;
    if (c.isList()) {
        appendU32(out, c.listType);
        for (const RiffChunk& child : c.children)
            compose(child, out, positions);
        dataBytes = out.size() - static_cast<size_t>(start) - 8;
    } else {
        out.insert(out.end(), c.data.begin(), c.data.end());
        dataBytes = c.data.size();
        if (dataBytes % 2 != 0)
            out.push_back(0);
    }
    const uint32_t size = c.sizeField.value_or(static_cast<uint32_t>(dataBytes));
    for (size_t i = 0; i < 4; ++i)
        out[static_cast<size_t>(start) + 4 + i] = static_cast<uint8_t>(size >> (8 * i));
}

} // namespace

bool RiffChunk::isList() const
{
    return id == core::fourcc("RIFF") || id == core::fourcc("LIST");
}

RiffChunk chunk(const char (&id)[5], std::vector<uint8_t> data, int32_t mark)
{
    RiffChunk c;
    c.id = core::fourcc(id);
    c.data = std::move(data);
    c.mark = mark;
    return c;
}

RiffChunk list(const char (&type)[5], std::vector<RiffChunk> children)
{
    RiffChunk c;
    c.id = core::fourcc("LIST");
    c.listType = core::fourcc(type);
    c.children = std::move(children);
    return c;
}

RiffChunk riffList(const char (&type)[5], std::vector<RiffChunk> children)
{
    RiffChunk c = list(type, std::move(children));
    c.id = core::fourcc("RIFF");
    return c;
}

std::vector<uint8_t> compose(const std::vector<RiffChunk>& chunks, std::vector<int64_t>* positions)
{
    std::vector<uint8_t> out;
    for (const RiffChunk& c : chunks)
        compose(c, out, positions);
    return out;
}

void appendU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

std::vector<uint8_t> streamHeader(uint32_t type, uint32_t handler, uint32_t rate, uint32_t scale,
                                  uint32_t length)
{
    std::vector<uint8_t> h;
    appendU32(h, type);
    appendU32(h, handler);
    appendU32(h, 0); // flags
    appendU16(h, 0); // priority
    appendU16(h, 0); // language
    appendU32(h, 0); // initial frames
    appendU32(h, scale);
    appendU32(h, rate);
    appendU32(h, 0); // start
    appendU32(h, length);
    appendU32(h, 0x100000);
    appendU32(h, 0xFFFFFFFFu);
    appendU32(h, 0); // sample size
    for (int i = 0; i < 4; ++i)
        appendU16(h, 0);
    return h;
}

std::vector<uint8_t> bitmapFormat(int32_t width, int32_t height, uint32_t compression, size_t formatBytes)
{
    std::vector<uint8_t> f;
    appendU32(f, 40);
    appendU32(f, static_cast<uint32_t>(width));
    appendU32(f, static_cast<uint32_t>(height));
    appendU16(f, 1);
    appendU16(f, 24);
    appendU32(f, compression);
    appendU32(f, static_cast<uint32_t>(width * height * 3));
    for (int i = 0; i < 4; ++i)
        appendU32(f, 0);
    f.resize(std::max<size_t>(formatBytes, 40), 0);
    return f;
}

std::vector<uint8_t> pcmFormat(uint32_t sampleRate, uint16_t channels)
{
    std::vector<uint8_t> f;
    appendU16(f, 1);
    appendU16(f, channels);
    appendU32(f, sampleRate);
    appendU32(f, sampleRate * channels * 2);
    appendU16(f, static_cast<uint16_t>(channels * 2));
    appendU16(f, 16);
    appendU16(f, 0);
    return f;
}

std::vector<uint8_t> mainHeader(uint32_t frames, uint32_t streams, int32_t width, int32_t height)
{
    std::vector<uint8_t> h;
    appendU32(h, 40000);
    appendU32(h, 0);
    appendU32(h, 0);
    appendU32(h, 0x10);
    appendU32(h, frames);
    appendU32(h, 0);
    appendU32(h, streams);
    appendU32(h, 0);
    appendU32(h, static_cast<uint32_t>(width));
    appendU32(h, static_cast<uint32_t>(height));
    for (int i = 0; i < 4; ++i)
        appendU32(h, 0);
    return h;
}

MemoryFileIo::MemoryFileIo(std::vector<uint8_t> bytes, int64_t failWritesAfter)
    : m_bytes(std::make_shared<std::vector<uint8_t>>(std::move(bytes))), m_failWritesAfter(failWritesAfter)
{
}

int64_t MemoryFileIo::readAt(int64_t offset, std::span<uint8_t> out)
{
    if (offset < 0) {
        m_errorText = "Invalid argument";
        return -1;
    }
    const auto size = static_cast<int64_t>(m_bytes->size());
    if (offset >= size)
        return 0;
    const int64_t count = std::min<int64_t>(static_cast<int64_t>(out.size()), size - offset);
    if (count > 0)
        std::memcpy(out.data(), m_bytes->data() + offset, static_cast<size_t>(count));
    return count;
}

bool MemoryFileIo::writeAt(int64_t offset, std::span<const uint8_t> data)
{
    if (offset < 0 ||
        (m_failWritesAfter >= 0 && m_written + static_cast<int64_t>(data.size()) > m_failWritesAfter)) {
        m_errorText = "No space left on device";
        return false;
    }
    m_written += static_cast<int64_t>(data.size());
    const size_t end = static_cast<size_t>(offset) + data.size();
    if (m_bytes->size() < end)
        m_bytes->resize(end, 0);
    std::copy(data.begin(), data.end(), m_bytes->begin() + offset);
    return true;
}

int64_t MemoryFileIo::size()
{
    return static_cast<int64_t>(m_bytes->size());
}

bool MemoryFileIo::close()
{
    return true;
}

std::string MemoryFileIo::errorText() const
{
    return m_errorText;
}

} // namespace test_support
