#include "cli/probe_command.h"

#include "cli/commands.h"
#include "cli/console_ui_port.h"
#include "cli/json_writer.h"
#include "core/frame_table.h"
#include "video/frame_tables.h"
#include "video/source.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <span>
#include <string>

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
        std::string out;
        out.reserve(static_cast<size_t>(frames.count()) * 12 + 512);
        out += "{\"video\": {\"stream\": " + std::to_string(source->videoStream());
        out += ", \"handler\": " + jsonString(fourccText(info.fccHandler));
        out += ", \"scale\": " + std::to_string(info.dwScale);
        out += ", \"rate\": " + std::to_string(info.dwRate);
        out += ", \"length\": " + std::to_string(info.dwLength);
        out += ", \"suggestedBufferSize\": " + std::to_string(info.dwSuggestedBufferSize);
        out += ", \"formatSize\": " + std::to_string(formatSize);
        out += ", \"compression\": " + jsonString(fourccText(format.compression));
        out += ", \"width\": " + std::to_string(format.width);
        out += ", \"height\": " + std::to_string(format.height);
        out += ", \"sizeImage\": " + std::to_string(format.sizeImage);
        out += "}, \"frames\": [";
        for (int32_t i = 0; i < frames.count(); ++i) {
            if (i > 0)
                out += ", ";
            out += '[';
            out += std::to_string(frames[i].isKey);
            out += ", ";
            out += std::to_string(frames[i].size);
            out += ']';
        }
        out += "]}\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
        return kExitCompleted;
    }

    std::string out;
    out.reserve(static_cast<size_t>(frames.count()) * 16 + 512);
    out += "Video stream " + std::to_string(source->videoStream()) + "\n";
    out += "  type:                  " + fourccText(info.fccType) + "\n";
    out += "  handler:               " + fourccText(info.fccHandler) + "\n";
    out += "  scale:                 " + std::to_string(info.dwScale) + "\n";
    out += "  rate:                  " + std::to_string(info.dwRate) + "\n";
    out += "  length:                " + std::to_string(info.dwLength) + "\n";
    out += "  suggested buffer size: " + std::to_string(info.dwSuggestedBufferSize) + "\n";
    out += "Format\n";
    out += "  size:                  " + std::to_string(formatSize) + "\n";
    out += "  compression:           " + fourccText(format.compression) + "\n";
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
