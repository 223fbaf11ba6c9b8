// Opens one AVI as a source and builds its frame table, as Analyze does before planning; prints
// the frame count. The open benchmark times this program as a whole process.
#include "core/frame_table.h"
#include "core/user_interface_port.h"
#include "video/frame_tables.h"
#include "video/source.h"

#include <cstdio>
#include <memory>

namespace {

class SilentUiPort : public core::UiPort {
public:
    void showMessage(const core::Message& message) override { std::fprintf(stderr, "%s\n", message.text.c_str()); }
    bool askYesNo(const core::Question&) override { return false; }
    void beginBusy() override {}
    void endBusy() override {}
    std::unique_ptr<core::ProgressPort> openProgress() override { return nullptr; }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: open_frame_table FILE\n");
        return 2;
    }
    SilentUiPort ui;
    std::optional<video::Source> source = video::openVideoStream(argv[1], ui);
    if (!source)
        return 1;
    core::AviStreamInfo info;
    if (!video::readStreamInfo(info, *source, ui))
        return 1;
    core::FrameTable frames;
    if (!video::readFrameTable(frames, static_cast<int32_t>(info.dwLength), *source, ui))
        return 1;
    std::printf("%d frames, keyframe distance %d\n", frames.count(),
                video::findKeyframeDistance(frames, frames.count()));
    return 0;
}
