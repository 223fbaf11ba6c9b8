// Measures `kestrelion-cli make` against the codec's own two-pass encode at the same size. Two
// generated films of 60 s, 320x240, 25 fps, stored lossless (FFV1): "still" (six 10-second
// segments, still and moving in turn: fine texture frozen, noisy motion, bars under fixed noise,
// a blurred game of life, a frozen test picture, a zooming fractal) and "busy" (a zooming fractal
// with a game of life blended over it and noise on every frame). Each at two sizes: quality mode,
// classic mode and ffmpeg's two-pass MPEG-4 encode with the same key frames (every 10 s, no
// B-frames) at the whole target's bitrate, so never smaller than the Final AVI's share; PSNR of
// each against the source by ffmpeg's psnr filter, file sizes and wall times. Then quality mode's
// levels and group lengths on the smaller size of each film: PSNR (as make prints it) and time.
// The films are made once in the build tree's bench-media folder.

#include "bench_support.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kSeconds = 60;
constexpr int kFrames = kSeconds * 25;

struct Output {
    std::string text;
    double seconds = 0;
    bool failed = false;
};

// Runs a shell command and returns what it printed (standard error too) and its wall time; exits
// the benchmark when it fails, unless mayFail.
Output run(const std::string& command, bool mayFail = false)
{
    const auto start = std::chrono::steady_clock::now();
    struct PipeCloser {
        void operator()(FILE* pipe) const { (void)::pclose(pipe); }
    };
    Output output;
    {
        std::unique_ptr<FILE, PipeCloser> pipe(::popen((command + " 2>&1").c_str(), "r"));
        std::array<char, 4096> buffer{};
        while (pipe && std::fgets(buffer.data(), buffer.size(), pipe.get()))
            output.text += buffer.data();
        const int status = pipe ? ::pclose(pipe.release()) : -1;
        output.failed = status != 0;
        if (output.failed && !mayFail) {
            std::fprintf(stderr, "failed: %s\n%s", command.c_str(), output.text.c_str());
            std::exit(1);
        }
    }
    output.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return output;
}

// The number after key in text (a JSON field or a "name:value" pair).
double numberAfter(const std::string& text, const std::string& key)
{
    const size_t at = text.find(key);
    if (at == std::string::npos) {
        std::fprintf(stderr, "no %s in:\n%s", key.c_str(), text.c_str());
        std::exit(1);
    }
    return std::strtod(text.c_str() + at + key.size(), nullptr);
}

// Makes (once) one of the two films from ffmpeg's generated sources.
std::string makeFilm(const std::string& name)
{
    const std::string path = bench::mediaDir() + "/make_" + name + ".mkv";
    if (fs::exists(path))
        return path;
    const std::string w = "320", h = "240", r = "25", s = "s=" + w + "x" + h + ":r=" + r;
    std::string graph;
    if (name == "still") {
        const std::string frozen = ",trim=end_frame=1,loop=loop=249:size=1,setpts=N/25/TB,format=yuv420p";
        graph = "mandelbrot=" + s + frozen + "[s1];testsrc2=" + s + ":d=10,noise=alls=10:allf=t,format=yuv420p[s2];"
                "smptebars=" + s + ":d=10,noise=alls=6,format=yuv420p[s3];"
                "life=s=160x120:r=25:mold=10:ratio=0.2:death_color=#202040:life_color=#e0c080,scale=320x240:"
                "flags=neighbor,gblur=sigma=1.5,trim=end_frame=250,setpts=N/25/TB,format=yuv420p[s4];"
                "testsrc2=" + s + frozen + "[s5];mandelbrot=" + s + ":start_scale=1.5,trim=end_frame=250,"
                "setpts=N/25/TB,format=yuv420p[s6];[s1][s2][s3][s4][s5][s6]concat=n=6:v=1:a=0,setsar=1[v]";
    } else {
        graph = "mandelbrot=" + s + ":start_scale=2,format=yuv420p[m];life=" + s +
                ":ratio=0.3:mold=20:death_color=#000000:life_color=#ffffff,gblur=sigma=1,format=yuv420p[l];"
                "[m][l]blend=all_mode=overlay:all_opacity=0.35,noise=alls=8:allf=t,trim=end_frame=" +
                std::to_string(kFrames) + ",setpts=N/25/TB,setsar=1[v]";
    }
    const std::string partial = path + ".part.mkv";
    (void)run("ffmpeg -nostdin -v error -y -filter_complex " + bench::shellQuote(graph) +
              " -map '[v]' -c:v ffv1 " + bench::shellQuote(partial));
    fs::rename(partial, path);
    return path;
}

// ffmpeg's average PSNR of path against the film.
double psnrOf(const std::string& path, const std::string& film)
{
    return numberAfter(run("ffmpeg -nostdin -nostats -i " + bench::shellQuote(path) + " -i " + bench::shellQuote(film) +
                           " -lavfi psnr -f null -")
                           .text,
                       "average:");
}

struct Result {
    double psnr = 0;
    int64_t bytes = 0;
    double seconds = 0;
    std::string failure; // make's message when it made nothing
};

Result make(const std::string& film, const std::string& final, int sizeMB, const std::string& options)
{
    const Output out = run(std::string(KESTRELION_CLI) + " make --source " + bench::shellQuote(film) + " --final " +
                           bench::shellQuote(final) + " --size " + std::to_string(sizeMB) + " --yes --quiet --json " +
                           options,
                           true);
    if (out.failed) {
        Result failed;
        failed.failure = out.text.substr(0, out.text.find('\n'));
        return failed;
    }
    return {numberAfter(out.text, "\"psnr\": "), static_cast<int64_t>(numberAfter(out.text, "\"finalFileBytes\": ")),
            out.seconds, {}};
}

// The two-pass encode at bitsPerSecond, the key frames where make puts them by default.
Result twoPass(const std::string& film, const std::string& out, int64_t bitsPerSecond)
{
    const std::string log = out + ".2pass";
    const std::string common = "ffmpeg -nostdin -v error -y -i " + bench::shellQuote(film) +
                               " -c:v mpeg4 -vtag XVID -bf 0 -g 100000 -sc_threshold 1000000000 "
                               "-force_key_frames 'expr:eq(mod(n,250),0)' -b:v " +
                               std::to_string(bitsPerSecond) + " -passlogfile " + bench::shellQuote(log);
    Result result;
    result.seconds = run(common + " -pass 1 -f avi /dev/null").seconds;
    result.seconds += run(common + " -pass 2 " + bench::shellQuote(out)).seconds;
    result.bytes = static_cast<int64_t>(fs::file_size(out));
    result.psnr = psnrOf(out, film);
    fs::remove(log + "-0.log");
    fs::remove(log + "-0.log.mbtree");
    return result;
}

int64_t targetBytes(int sizeMB) { return int64_t{sizeMB} * 1000 / 1006 * 1048576; }

} // namespace

int main()
{
    std::printf("machine: %s\n", bench::machineName().c_str());
    const std::string dir = bench::mediaDir();
    const std::string final = dir + "/make_final.avi", anchor = dir + "/make_two_pass.avi";
    struct Point {
        const char* film;
        int sizeMB;
    };
    const Point points[] = {{"still", 4}, {"still", 10}, {"busy", 12}, {"busy", 31}};
    std::printf("%d s films, 320x240, 25 fps; MPEG-4; PSNR dB / file bytes / wall s\n", kSeconds);
    std::printf("| film | size MB (target bytes) | quality | classic | two-pass | quality - two-pass |\n");
    std::printf("|---|---|---|---|---|---|\n");
    std::map<std::string, Result> defaults; // quality mode's default run at each film's first size
    for (const Point& p : points) {
        const std::string film = makeFilm(p.film);
        Result quality = make(film, final, p.sizeMB, "");
        defaults.emplace(p.film, quality); // make's own PSNR, as the table below shows
        if (quality.failure.empty())
            quality.psnr = psnrOf(final, film);
        Result classic = make(film, final, p.sizeMB, "--mode classic");
        if (classic.failure.empty())
            classic.psnr = psnrOf(final, film);
        const Result two = twoPass(film, anchor, targetBytes(p.sizeMB) * 8 / kSeconds);
        const auto cell = [](const Result& r) {
            if (!r.failure.empty())
                return "failed: " + r.failure;
            return std::to_string(r.psnr).substr(0, 5) + " / " + std::to_string(r.bytes) + " / " +
                   std::to_string(r.seconds).substr(0, 4);
        };
        std::printf("| %s | %d (%lld) | %s | %s | %s | %+.2f dB |\n", p.film, p.sizeMB,
                    static_cast<long long>(targetBytes(p.sizeMB)), cell(quality).c_str(), cell(classic).c_str(),
                    cell(two).c_str(), quality.failure.empty() ? quality.psnr - two.psnr : 0.0);
        std::fflush(stdout);
    }
    // Levels against group lengths on the smaller size of each film.
    const char* const levelSets[] = {"", "2,4,6,8,10,12,16,20,24,31"};
    std::printf("\n| film, size | levels | key seconds | PSNR dB | wall s |\n|---|---|---|---|---|\n");
    for (const Point& p : {points[0], points[2]}) {
        const std::string film = makeFilm(p.film);
        for (const char* levels : levelSets) {
            for (const int keySeconds : {2, 5, 10}) {
                const std::string options = std::string("--key-seconds ") + std::to_string(keySeconds) +
                                            (*levels ? std::string(" --levels ") + levels : std::string());
                const bool asAbove = !*levels && keySeconds == 10;
                const Result r = asAbove ? defaults.at(p.film) : make(film, final, p.sizeMB, options);
                std::printf("| %s %d MB | %s | %d | %s | %.1f |\n", p.film, p.sizeMB, *levels ? levels : "default",
                            keySeconds, r.failure.empty() ? std::to_string(r.psnr).substr(0, 5).c_str() : r.failure.c_str(),
                            r.seconds);
                std::fflush(stdout);
            }
        }
    }
    fs::remove(final);
    fs::remove(anchor);
    return 0;
}
