#include "cli/probe_command.h"

#include "cli/commands.h"
#include "cli/console_ui_port.h"
#include "cli/json_writer.h"
#include "core/frame_table.h"
#include "video/frame_tables.h"
#include "video/source.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <climits>
#include <concepts>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace cli {

namespace {

uint32_t readU32(std::span<const uint8_t> bytes, size_t at)
{
    if (at + 4 > bytes.size())
        return 0;
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// The fields of a BITMAPINFOHEADER the probe shows; missing bytes read as 0.
struct FormatSummary {
    uint32_t compression = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t sizeImage = 0;
};

FormatSummary summariseFormat(std::span<const uint8_t> format)
{
    FormatSummary summary;
    summary.width = static_cast<int32_t>(readU32(format, 4));
    summary.height = static_cast<int32_t>(readU32(format, 8));
    summary.compression = readU32(format, 16);
    summary.sizeImage = readU32(format, 20);
    return summary;
}

// Text written piece by piece into memory allocated once, for a caller that knows how much
// room the whole text needs at most.
class TextBuffer {
public:
    explicit TextBuffer(size_t capacity)
        : m_bytes(std::make_unique_for_overwrite<char[]>(capacity)), m_end(m_bytes.get() + capacity),
          m_next(m_bytes.get())
    {
    }

    void put(std::string_view text)
    {
        assert(static_cast<size_t>(m_end - m_next) >= text.size());
        m_next = std::copy(text.begin(), text.end(), m_next);
    }
    template <std::integral Number> void put(Number number)
    {
        const std::to_chars_result written = std::to_chars(m_next, m_end, number);
        assert(written.ec == std::errc());
        m_next = written.ptr;
    }
    std::string_view text() const { return {m_bytes.get(), static_cast<size_t>(m_next - m_bytes.get())}; }

private:
    std::unique_ptr<char[]> m_bytes;
    char* m_end = nullptr;
    char* m_next = nullptr;
};

} // namespace

int runProbe(const std::string& path, bool json)
{
    ConsoleUiPort ui({});
    std::optional<video::Source> source = video::openVideoStream(path, ui);
    if (!source)
        return kExitEnded;
    core::AviStreamInfo info;
    if (!video::readStreamInfo(info, *source, ui))
        return kExitEnded;
    core::FrameTable frames;
    const int32_t frameCount = static_cast<int32_t>(std::min<uint32_t>(info.dwLength, INT32_MAX));
    if (!video::readFrameTable(frames, frameCount, *source, ui))
        return kExitEnded;
    const FormatSummary format = summariseFormat(source->format());
    const size_t formatSize = source->format().size();

    if (json) {
        // Room for the longest frame entry, "[1, -2147483648], ", per frame, and for the header.
        TextBuffer out(1024 + 18 * static_cast<size_t>(frames.count()));
        out.put("{\"video\": {\"stream\": ");
        out.put(source->videoStream());
        out.put(", \"handler\": ");
        out.put(jsonString(core::fourccText(info.fccHandler)));
        out.put(", \"scale\": ");
        out.put(info.dwScale);
        out.put(", \"rate\": ");
        out.put(info.dwRate);
        out.put(", \"length\": ");
        out.put(info.dwLength);
        out.put(", \"suggestedBufferSize\": ");
        out.put(info.dwSuggestedBufferSize);
        out.put(", \"formatSize\": ");
        out.put(formatSize);
        out.put(", \"compression\": ");
        out.put(jsonString(core::fourccText(format.compression)));
        out.put(", \"width\": ");
        out.put(format.width);
        out.put(", \"height\": ");
        out.put(format.height);
        out.put(", \"sizeImage\": ");
        out.put(format.sizeImage);
        out.put("}, \"frames\": [");
        for (int32_t i = 0; i < frames.count(); ++i) {
            out.put(i > 0 ? ", [" : "[");
            out.put(frames[i].isKey);
            out.put(", ");
            out.put(frames[i].size);
            out.put("]");
        }
        out.put("]}\n");
        const std::string_view text = out.text();
        std::fwrite(text.data(), 1, text.size(), stdout);
        return kExitCompleted;
    }

    std::string out;
    out.reserve(static_cast<size_t>(frames.count()) * 16 + 512);
    out += "Video stream " + std::to_string(source->videoStream()) + "\n";
    out += "  type:                  " + core::fourccText(info.fccType) + "\n";
    out += "  handler:               " + core::fourccText(info.fccHandler) + "\n";
    out += "  scale:                 " + std::to_string(info.dwScale) + "\n";
    out += "  rate:                  " + std::to_string(info.dwRate) + "\n";
    out += "  length:                " + std::to_string(info.dwLength) + "\n";
    out += "  suggested buffer size: " + std::to_string(info.dwSuggestedBufferSize) + "\n";
    out += "Format\n";
    out += "  size:                  " + std::to_string(formatSize) + "\n";
    out += "  compression:           " + core::fourccText(format.compression) + "\n";
    out += "  width:                 " + std::to_string(format.width) + "\n";
    out += "  height:                " + std::to_string(format.height) + "\n";
    out += "  image size:            " + std::to_string(format.sizeImage) + "\n";
    out += "Frames (index, K for key frames, size in bytes)\n";
    char line[64];
    for (int32_t i = 0; i < frames.count(); ++i) {
        const int length = std::snprintf(line, sizeof line, "%8d %c %d\n", i, frames[i].isKey != 0 ? 'K' : ' ',
                                         frames[i].size);
        out.append(line, static_cast<size_t>(length));
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return kExitCompleted;
}

} // namespace cli
