// Renders the main window after an Analyze, the progress window and the about box to PNG files
// for the documentation. Usage: screenshot_windows FM.avi LM.avi OUTPUT_DIR
// The paths are shown as given, so relative ones keep the pictures free of temporary folders.
#include "app/about_box.h"
#include "app/main_window.h"
#include "app/progress_window.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTextStream>

#include <cstdio>

namespace {

// Prints messages instead of showing boxes: nobody is there to close them.
class PrintingUiPort : public app::QtUiPort {
public:
    void showMessage(const core::Message& message) override
    {
        std::fprintf(stderr, "%s\n", app::displayText(message.text).toLocal8Bit().constData());
        failed = true;
    }
    bool askYesNo(const core::Question& question) override
    {
        std::fprintf(stderr, "%s\n", app::displayText(question.text).toLocal8Bit().constData());
        failed = true;
        return false;
    }
    void promptWholeNumber() override { failed = true; }
    bool failed = false;
};

bool save(QWidget& widget, const QString& path)
{
    if (widget.grab().save(path))
        return true;
    std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: screenshot_windows FM.avi LM.avi OUTPUT_DIR\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[3]);
    auto port = std::make_unique<PrintingUiPort>();
    PrintingUiPort& messages = *port;
    app::MainWindow window(std::move(port));
    window.findChild<QLineEdit*>("fmPathEdit")->setText(QString::fromLocal8Bit(argv[1]));
    window.findChild<QLineEdit*>("lmPathEdit")->setText(QString::fromLocal8Bit(argv[2]));
    window.findChild<QLineEdit*>("finalPathEdit")->setText(QStringLiteral("final.avi"));
    // A target that suits the short generated film.
    window.findChild<QLineEdit*>("finalSizeEdit")->setText(QStringLiteral("10"));
    window.show();
    QApplication::processEvents();
    window.findChild<QPushButton*>("analyzeButton")->click();
    QApplication::processEvents();
    if (messages.failed || !window.job().state.analysed)
        return 1;
    window.findChild<QLineEdit*>("fmPathEdit")->deselect();
    bool ok = save(window, folder + "/main-window.png");

    app::ProgressWindow progress(&window);
    progress.setRange(0, 120, 1);
    progress.setPosition(45);
    core::ProgressStatistics statistics;
    statistics.fmSeconds = 410;
    statistics.fmBytes = 91488256;
    statistics.lmSeconds = 1390;
    statistics.lmBytes = 94371840;
    statistics.totalBytes = statistics.fmBytes + statistics.lmBytes;
    progress.setStatistics(statistics);
    QApplication::processEvents();
    ok = save(progress, folder + "/progress-window.png") && ok;

    app::AboutBox about(&window);
    about.show();
    QApplication::processEvents();
    ok = save(about, folder + "/about-box.png") && ok;
    return ok ? 0 : 1;
}
