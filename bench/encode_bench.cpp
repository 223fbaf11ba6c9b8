// Measures encode-lm against the ffmpeg command-line tool doing the same encode: the same Fast
// Motion AVI as source, the same encoder (libavcodec's MPEG-4 encoder, then libx264), bitrate, key
// frames (every 250 frames, forced, scene cuts off), no B-frames, threads left to the encoder, an
// AVI written in both cases. Whole processes in pairs whose order alternates; frames per second
// and the ratio within each pair. Then encode-lm's peak memory on a film and on one twice as long.
// The films are made once in the build tree's bench-media folder.

#include "bench_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Run {
    double seconds = 0;
    double cpuSeconds = 0; // user and system time
    long maxRssKiB = 0;
};

// Runs argv as a whole process with its output thrown away; exits the benchmark when it fails.
Run runProgram(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    (void)::wait4(pid, &status, 0, &usage);
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.maxRssKiB = usage.ru_maxrss;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", argv[0].c_str());
        std::exit(1);
    }
    return run;
}

// Makes (once) a Fast Motion AVI of frames frames at 640 x 352, 25 fps, MPEG-4 at a fine quantizer,
// a key frame every 250 frames.
std::string makeFastMotion(int32_t frames)
{
    const std::string path = bench::mediaDir() + "/encode_fm_" + std::to_string(frames) + ".avi";
    if (std::filesystem::exists(path))
        return path;
    const std::string partial = path + ".part.avi";
    const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=s=640x352:r=25,noise=alls=8:allf=t+u' "
                                "-frames:v " +
                                std::to_string(frames) +
                                " -c:v mpeg4 -vtag XVID -g 250 -bf 0 -sc_threshold 1000000000 -q:v 3 " +
                                bench::shellQuote(partial);
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg could not make %s\n", partial.c_str());
        std::exit(1);
    }
    std::filesystem::rename(partial, path);
    return path;
}

std::vector<std::string> encodeLm(const std::string& fm, const std::string& lm)
{
    return {KESTRELION_CLI, "encode-lm", "--fm", fm, "--lm", lm, "--kbps", "800", "--yes", "--quiet"};
}

// The same encode with the ffmpeg command-line tool: 800 Kbps of 1024 bits, key frames forced
// where the FM has them, the encoder's options as encode-lm sets them.
std::vector<std::string> ffmpegEncode(const std::string& fm, const std::string& out, bool h264)
{
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", fm, "-b:v", "819200", "-bf", "0",
                                     "-g", "251", "-force_key_frames", "expr:eq(mod(n,250),0)"};
    const std::vector<std::string> codec =
        h264 ? std::vector<std::string>{"-c:v", "libx264", "-vtag", "H264", "-forced-idr", "1", "-x264-params",
                                        "keyint=infinite:min-keyint=1:scenecut=0:open-gop=0:repeat-headers=1:annexb=1"}
             : std::vector<std::string>{"-c:v", "mpeg4", "-vtag", "XVID", "-sc_threshold", "1000000000"};
    argv.insert(argv.end(), codec.begin(), codec.end());
    argv.push_back(out);
    return argv;
}

} // namespace

int main()
{
    std::printf("machine: %s\n", bench::machineName().c_str());
    const std::string dir = bench::mediaDir();
    struct Case {
        const char* name;
        int32_t frames;
        int32_t pairs;
        bool h264;
    };
    for (const Case& c : {Case{"MPEG-4 (XVID)", 1500, 7, false}, Case{"H.264 (libx264)", 500, 5, true}}) {
        const std::string fm = makeFastMotion(c.frames);
        std::string fmH264 = fm;
        if (c.h264) {
            // An H.264 Fast Motion AVI of the same film, so encode-lm picks libx264.
            fmH264 = dir + "/encode_fm_h264_" + std::to_string(c.frames) + ".avi";
            if (!std::filesystem::exists(fmH264))
                (void)runProgram({KESTRELION_CLI, "encode-fm", "--source", fm, "--fm", fmH264, "--kbps", "4000",
                                  "--codec", "h264", "--yes", "--quiet"});
        }
        const std::string source = c.h264 ? fmH264 : fm;
        std::vector<double> ratios, cpuRatios, ours, theirs;
        for (int32_t pair = 0; pair < c.pairs; ++pair) {
            const auto runOurs = [&] { return runProgram(encodeLm(source, dir + "/encode_lm.avi")); };
            const auto runTheirs = [&] { return runProgram(ffmpegEncode(source, dir + "/encode_ffmpeg.avi", c.h264)); };
            Run a, b;
            if (pair % 2 == 0) {
                a = runOurs();
                b = runTheirs();
            } else {
                b = runTheirs();
                a = runOurs();
            }
            ours.push_back(c.frames / a.seconds);
            theirs.push_back(c.frames / b.seconds);
            ratios.push_back(b.seconds / a.seconds);
            cpuRatios.push_back(b.cpuSeconds / a.cpuSeconds);
            std::printf("  %s pair %d: encode-lm %.1f fps (%.2f s CPU), ffmpeg %.1f fps (%.2f s CPU)\n", c.name,
                        pair + 1, ours.back(), a.cpuSeconds, theirs.back(), b.cpuSeconds);
            std::fflush(stdout);
        }
        const bench::Spread ratio = bench::spreadOf(ratios), cpu = bench::spreadOf(cpuRatios),
                            a = bench::spreadOf(ours), b = bench::spreadOf(theirs);
        std::printf("%s, %d frames of 640x352, %d pairs: encode-lm %.1f fps (%.1f .. %.1f), ffmpeg %.1f fps "
                    "(%.1f .. %.1f); speed ratio %.3f (%.3f .. %.3f)  goal >= 0.95; CPU time ratio %.3f (%.3f .. %.3f)\n",
                    c.name, c.frames, c.pairs, a.median, a.low, a.high, b.median, b.low, b.high, ratio.median,
                    ratio.low, ratio.high, cpu.median, cpu.low, cpu.high);
    }
    // Memory: the same encode on a film and on one twice as long.
    for (const int32_t frames : {1500, 3000}) {
        const Run run = runProgram(encodeLm(makeFastMotion(frames), dir + "/encode_lm.avi"));
        std::printf("peak memory of encode-lm, %d frames: %.1f MiB\n", frames, run.maxRssKiB / 1024.0);
    }
    std::filesystem::remove(dir + "/encode_lm.avi");
    std::filesystem::remove(dir + "/encode_ffmpeg.avi");
    return 0;
}
