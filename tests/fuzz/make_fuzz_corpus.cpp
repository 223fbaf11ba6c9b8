// Writes the fuzzer's starting corpus into the folder given as the only argument: small AVIs
// from the project's own writer (one part, several OpenDML parts, empty frames), damaged copies
// of them (cut, without index, unfinished sizes), composed files with 'rec ' lists and JUNK, and
// the beginning of an ffmpeg-made film when one can be had.

#include "avi_builder.h"
#include "media.h"
#include "riff_composer.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr size_t kMaxInputBytes = 65536;

void save(const std::filesystem::path& dir, const std::string& name, std::vector<uint8_t> bytes)
{
    bytes.resize(std::min(bytes.size(), kMaxInputBytes));
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> built(const std::filesystem::path& dir,
                           const std::vector<test_support::BuiltFrame>& frames, int64_t partBytes)
{
    const std::string path = (dir / "scratch.avi").string();
    test_support::AviBuildSpec layout;
    layout.frames = frames;
    video::AviWriterOptions options;
    options.partBytes = partBytes;
    options.superIndexEntries = 32;
    test_support::buildAvi(path, layout, options);
    std::vector<uint8_t> bytes = test_support::readWholeFile(path);
    std::filesystem::remove(path);
    return bytes;
}

// Renames the first occurrence of id so readers no longer find it.
std::vector<uint8_t> renamed(std::vector<uint8_t> bytes, const std::string& id)
{
    auto at = std::search(bytes.begin(), bytes.end(), id.begin(), id.end());
    if (at != bytes.end())
        *at = 'X';
    return bytes;
}

std::vector<uint8_t> withRecLists()
{
    using test_support::chunk;
    using test_support::list;
    std::vector<test_support::RiffChunk> movi;
    for (int32_t i = 0; i < 6; ++i) {
        movi.push_back(list("rec ", {chunk("00dc", test_support::sampleBytes(i, 31 + i)),
                                     chunk("01wb", std::vector<uint8_t>(20, 1)), chunk("JUNK", {0, 0, 0})}));
    }
    return test_support::compose({test_support::riffList(
        "AVI ",
        {list("hdrl",
              {chunk("avih", test_support::mainHeader(6, 2, 64, 48)),
               list("strl", {chunk("strh", test_support::streamHeader(core::kStreamTypeVideo,
                                                                      core::fourcc("MJPG"), 25, 1, 6)),
                             chunk("strf", test_support::bitmapFormat(64, 48, core::fourcc("MJPG"))),
                             chunk("strn", {'v', 0})}),
               list("strl", {chunk("strh", test_support::streamHeader(core::fourcc("auds"), 0, 8000, 1, 0)),
                             chunk("strf", test_support::pcmFormat(8000, 1))})}),
         list("movi", movi)})});
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_corpus FOLDER\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    try {
        std::vector<test_support::BuiltFrame> frames = test_support::gridFrames(40, 8, 300, 41);
        frames[5].size = 0;
        const std::vector<uint8_t> onePart = built(dir, frames, 1000LL * 1000 * 1000);
        save(dir, "one_part.avi", onePart);
        const std::vector<uint8_t> parts = built(dir, test_support::gridFrames(60, 6, 700, 150), 6000);
        save(dir, "opendml_parts.avi", parts);
        save(dir, "no_index.avi", renamed(onePart, "idx1"));
        save(dir, "opendml_no_super_index.avi", renamed(parts, "indx"));
        save(dir, "cut_in_movi.avi",
             std::vector<uint8_t>(onePart.begin(), onePart.begin() + onePart.size() / 2));
        save(dir, "cut_in_part.avi",
             std::vector<uint8_t>(parts.begin(), parts.begin() + parts.size() * 2 / 3));
        std::vector<uint8_t> unfinished = onePart;
        std::fill(unfinished.begin() + 4, unfinished.begin() + 8, uint8_t{0});
        save(dir, "unfinished_sizes.avi", unfinished);
        save(dir, "rec_lists.avi", withRecLists());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_fuzz_corpus: %s\n", error.what());
        return 1;
    }
    try {
        test_support::MediaSpec film;
        film.frames = 50;
        film.keyframeDistance = 10;
        film.audioFirst = true;
        film.width = 160;
        film.height = 120;
        save(dir, "ffmpeg_start.avi", test_support::readWholeFile(test_support::mediaFile(film)));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_fuzz_corpus: no ffmpeg film (%s)\n", error.what());
    }
    return 0;
}
