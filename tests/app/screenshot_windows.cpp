// Renders the main window after an Analyze, the progress window and the about box to PNG files
// for the documentation. Usage: screenshot_windows FM.avi LM.avi OUTPUT_DIR
// The paths are shown as given, so relative ones keep the pictures free of temporary folders.
#include "app/about_box.h"
#include "app/main_window.h"
#include "app/progress_window.h"

#include <QtWidgets>

#include <cstdio>

namespace {

// Prints messages instead of showing boxes: nobody is there to close them.
struct PrintingUiPort : app::QtUiPort {
    void showMessage(const core::Message& message) override { fail(message.text); }
    bool askYesNo(const core::Question& question) override { return fail(question.text); }
    void promptWholeNumber() override { fail("a field holds no whole number"); }
    bool fail(const std::string& text)
    {
        std::fprintf(stderr, "%s\n", qPrintable(app::displayText(text)));
        failed = true;
        return false;
    }
    bool failed = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: screenshot_windows FM.avi LM.avi OUTPUT_DIR\n");
        return 2;
    }
    auto port = std::make_unique<PrintingUiPort>();
    const PrintingUiPort& messages = *port;
    app::MainWindow window(std::move(port));
    // The final size suits the short generated film.
    for (const auto& [name, text] : {std::pair<const char*, const char*>{"fmPathEdit", argv[1]},
                                     {"lmPathEdit", argv[2]},
                                     {"finalPathEdit", "final.avi"},
                                     {"finalSizeEdit", "10"}})
        window.findChild<QLineEdit*>(name)->setText(QString::fromLocal8Bit(text));
    window.show();
    QApplication::processEvents();
    window.findChild<QPushButton*>("analyzeButton")->click();
    QApplication::processEvents();
    if (messages.failed || !window.job().state.analysed)
        return 1;
    window.findChild<QLineEdit*>("fmPathEdit")->deselect();
    const QString folder = QString::fromLocal8Bit(argv[3]);
    bool saved = window.grab().save(folder + "/main-window.png");

    app::ProgressWindow progress(&window);
    progress.setRange(0, 120, 1);
    progress.setPosition(45);
    progress.setStatistics({410, 91488256, 1390, 94371840, 91488256 + 94371840});
    app::AboutBox about(&window);
    about.show();
    QApplication::processEvents();
    saved = progress.grab().save(folder + "/progress-window.png") &&
            about.grab().save(folder + "/about-box.png") && saved;
    if (!saved)
        std::fprintf(stderr, "cannot write the pictures to %s\n", argv[3]);
    return saved ? 0 : 1;
}
