// Writes the fuzzer's starting corpus into the folder given as the only argument: small AVIs from
// the project's own writer (one part with an empty frame, several OpenDML parts), damaged copies
// of them (no index, cut, unfinished sizes), a composed file with 'rec ' lists and JUNK, and the
// beginning of an ffmpeg-made film. A failing build throws, which ends the program.

#include "avi_builder.h"
#include "media.h"
#include "riff_composer.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

int main(int argc, char** argv)
{
    using namespace test_support;
    if (argc != 2) // usage: make_fuzz_corpus FOLDER
        return 2;
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    auto save = [&dir](const std::string& name, std::vector<uint8_t> bytes) {
        bytes.resize(std::min<size_t>(bytes.size(), 65536));
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::ssize(bytes));
    };
    auto built = [&dir](const std::string& name, const std::vector<BuiltFrame>& frames, int64_t partBytes) {
        buildAvi((dir / name).string(), {.frames = frames},
                 {.partBytes = partBytes, .superIndexEntries = 32});
        return readWholeFile((dir / name).string());
    };
    auto without = [](std::vector<uint8_t> bytes, const std::string& id) { // readers no longer find id
        *std::search(bytes.begin(), bytes.end(), id.begin(), id.end()) = 'X';
        return bytes;
    };
    std::vector<BuiltFrame> frames = gridFrames(40, 8, 300, 41);
    frames[5].size = 0;
    const std::vector<uint8_t> onePart = built("one_part.avi", frames, 1000LL * 1000 * 1000);
    const std::vector<uint8_t> parts = built("opendml_parts.avi", gridFrames(60, 6, 700, 150), 6000);
    std::vector<uint8_t> unfinished = onePart;
    std::fill_n(unfinished.begin() + 4, 4, uint8_t{0});
    save("no_index.avi", without(onePart, "idx1"));
    save("opendml_no_super_index.avi", without(parts, "indx"));
    save("cut_in_movi.avi", {onePart.begin(), onePart.end() - 1500});
    save("cut_in_part.avi", {parts.begin(), parts.end() - 5000});
    save("unfinished_sizes.avi", unfinished);
    std::vector<RiffChunk> movi;
    for (int32_t i = 0; i < 6; ++i)
        movi.push_back(list("rec ", {chunk("00dc", sampleBytes(i, 31 + i)), chunk("JUNK", {0, 0, 0})}));
    const RiffChunk strl = list("strl", {chunk("strh", streamHeader(core::kStreamTypeVideo, 0, 25, 1, 6)),
                                         chunk("strf", bitmapFormat(64, 48, core::fourcc("MJPG")))});
    save("rec_lists.avi",
         compose(list("AVI ",
                      {list("hdrl", {chunk("avih", mainHeader(6, 1, 64, 48)), strl}), list("movi", movi)},
                      true)));
    const MediaSpec film = {
        .frames = 50, .keyframeDistance = 10, .audioFirst = true, .width = 160, .height = 120};
    save("ffmpeg_start.avi", readWholeFile(mediaFile(film)));
    return 0;
}
