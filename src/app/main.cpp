#include "app/main_window.h"
#include "core/version.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "Usage: kestrelion [OPTION]... [FILE]\n"
    "Builds one Final AVI near a target size from a Fast Motion and a Low Motion encoding of the\n"
    "same film, in a window. A FILE ending in .ini is a profile: the window opens with it loaded,\n"
    "as the Load button loads it. Any other FILE, an AVI, opens as the Fast Motion AVI.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "      --version  print the name and version and exit\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are taken as well. The batch front end,\n"
    "kestrelion-cli, does the same work without a window.\n";

} // namespace

int main(int argc, char* argv[])
{
    // Answered before the window system is reached, so both work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("kestrelion (KestrelIon) %s\n", core::versionText());
            return 0;
        }
    }
    QApplication application(argc, argv);
    // QApplication has taken its own options out of argv; what is left is the file.
    if (argc > 2) {
        std::fputs("kestrelion: give at most one file\n", stderr);
        std::fputs(kUsage, stderr);
        return 2;
    }
    app::MainWindow window;
    if (argc == 2 && !window.openGivenFile(QString::fromLocal8Bit(argv[1])))
        std::fprintf(stderr, "kestrelion: cannot read the profile %s; the window opens without it\n",
                     argv[1]);
    window.exec();
    return 0;
}
