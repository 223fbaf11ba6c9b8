#include "app/main_window.h"

#include "app/about_box.h"
#include "app/app_resources.h"
#include "app/create_status.h"
#include "app/dialog_units.h"
#include "app/encode_window.h"
#include "app/locale_numbers.h"
#include "app/make_window.h"
#include "app/plan_window.h"
#include "engine/commands.h"
#include "engine/exact_size.h"
#include "engine/planner.h"
#include "engine/quiet_ui_port.h"
#include "engine/sound.h"
#include "engine/verify.h"
#include "profiles/profile_file.h"
#include "ui_main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QPointer>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include <vector>

namespace app {

namespace {

// Sets a flag for its lifetime and restores the previous value.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : m_flag(flag), m_previous(flag) { m_flag = true; }
    ~FlagScope() { m_flag = m_previous; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& m_flag;
    bool m_previous;
};

QString toQt(const std::string& text)
{
    return QString::fromStdString(text);
}

// Rewriting an unchanged text would move the caret and drop the selection.
template <typename Widget> void showText(Widget* widget, const QString& text)
{
    if (widget->text() != text)
        widget->setText(text);
}

void showNumber(QLineEdit* edit, int32_t value)
{
    showText(edit, QString::number(value));
}

// The window keeps only the dropped file's name, so it never asks the source to move the file.
void answerDrag(QDropEvent& event, bool accepted)
{
    const Qt::DropActions possible = event.possibleActions();
    if (!accepted || !(possible & (Qt::CopyAction | Qt::LinkAction))) {
        event.ignore();
        return;
    }
    event.setDropAction(possible & Qt::CopyAction ? Qt::CopyAction : Qt::LinkAction);
    event.accept();
}

} // namespace

// Keeps every command of the window from starting while Create copies: the progress window's
// pump runs the window's events between groups, and a command started there would change the
// tables and settings the copy reads. Disables the command buttons and the setting groups, and
// restores their previous states and the focus at the end.
class MainWindow::CopyScope {
public:
    explicit CopyScope(MainWindow& window) : m_window(window), m_focus(QApplication::focusWidget())
    {
        m_window.m_copying = true;
        Ui::MainWindow& form = *m_window.m_form;
        for (QWidget* widget :
             {static_cast<QWidget*>(form.sourceGroup), static_cast<QWidget*>(form.thresholdGroup),
              static_cast<QWidget*>(form.destinationGroup), static_cast<QWidget*>(form.otherGroup),
              static_cast<QWidget*>(form.analyzeButton), static_cast<QWidget*>(form.createButton),
              static_cast<QWidget*>(form.fitButton)}) {
            m_states.push_back({widget, widget->isEnabled()});
            widget->setEnabled(false);
        }
        m_aboutEnabled = form.aboutAction->isEnabled();
        form.aboutAction->setEnabled(false);
        m_verifyEnabled = form.verifyAction->isEnabled();
        form.verifyAction->setEnabled(false);
    }

    ~CopyScope()
    {
        for (const auto& [widget, enabled] : m_states) {
            if (widget)
                widget->setEnabled(enabled);
        }
        m_window.m_form->aboutAction->setEnabled(m_aboutEnabled);
        m_window.m_form->verifyAction->setEnabled(m_verifyEnabled);
        m_window.m_copying = false;
        if (m_focus && m_focus->isEnabled())
            m_focus->setFocus(Qt::OtherFocusReason);
    }

    CopyScope(const CopyScope&) = delete;
    CopyScope& operator=(const CopyScope&) = delete;

private:
    struct WidgetState {
        QPointer<QWidget> widget;
        bool enabled = true;
    };
    MainWindow& m_window;
    QPointer<QWidget> m_focus;
    std::vector<WidgetState> m_states;
    bool m_aboutEnabled = true;
    bool m_verifyEnabled = true;
};

MainWindow::MainWindow(std::unique_ptr<QtUiPort> port, std::unique_ptr<FilePicker> picker)
    : QDialog(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_form(std::make_unique<Ui::MainWindow>()),
      m_port(port ? std::move(port) : std::make_unique<QtUiPort>()),
      m_picker(picker ? std::move(picker) : std::make_unique<DialogFilePicker>())
{
    ensureResources();
    m_form->setupUi(this);
    // Load and Save show pictures in place of their texts.
    const struct {
        QPushButton* button;
        const char* icon;
    } imageButtons[] = {{m_form->loadButton, ":/icons/open-folder.xpm"},
                        {m_form->saveButton, ":/icons/diskette.xpm"}};
    for (const auto& [button, icon] : imageButtons) {
        button->setToolTip(button->text());
        button->setAccessibleName(button->text());
        button->setText(QString());
        button->setIcon(QIcon(QString::fromLatin1(icon)));
    }
    applyDialogUnits(*this);
    for (const auto& [button, icon] : imageButtons) {
        const int side = std::min(button->width(), button->height()) - 8;
        button->setIconSize(QSize(side, side).boundedTo(QSize(32, 32)));
    }
    m_port->setOwner(this);
    // The window takes dropped files itself, the path fields included: they would take a file's
    // name as text.
    setAcceptDrops(true);
    for (QLineEdit* edit : findChildren<QLineEdit*>())
        edit->setAcceptDrops(false);
    if (const std::optional<QPoint> position = m_memory.position())
        placeOnScreen(*this, *position);

    // A setting's caption and its second control explain it as the control does.
    for (const auto& [control, explained] :
         {std::pair<QWidget*, QWidget*>{m_form->audioLabel, m_form->audioEdit},
          {m_form->finalSizeLabel, m_form->finalSizeEdit},
          {m_form->highBitrateLimitLabel, m_form->highBitrateLimitEdit},
          {m_form->framePosLabel, m_form->framePosEdit},
          {m_form->stopAfterFramesEdit, m_form->stopAfterCheck}})
        control->setToolTip(explained->toolTip());

    const QRegularExpression digits(QStringLiteral("[0-9]*"));
    for (QLineEdit* edit :
         {m_form->framePosEdit, m_form->stopAfterFramesEdit, m_form->audioEdit, m_form->finalSizeEdit,
          m_form->highBitrateLimitEdit, m_form->lowRunMaxGroupsEdit, m_form->highRunMinGroupsEdit})
        edit->setValidator(new QRegularExpressionValidator(digits, edit));

    connect(m_form->analyzeButton, &QPushButton::clicked, this, &MainWindow::runAnalyze);
    connect(m_form->createButton, &QPushButton::clicked, this, &MainWindow::runCreate);
    connect(m_form->planButton, &QPushButton::clicked, this, &MainWindow::showPlanWindow);
    connect(m_form->fmBrowseButton, &QPushButton::clicked, this, &MainWindow::pickFastMotionAvi);
    connect(m_form->endingBrowseButton, &QPushButton::clicked, this, &MainWindow::pickEndingAvi);
    connect(m_form->lmBrowseButton, &QPushButton::clicked, this, &MainWindow::pickLowMotionAvi);
    connect(m_form->finalBrowseButton, &QPushButton::clicked, this, &MainWindow::pickFinalAvi);
    connect(m_form->audioFileBrowseButton, &QPushButton::clicked, this, &MainWindow::pickAudioFile);
    connect(m_form->audioFilePathEdit, &QLineEdit::textChanged, this, &MainWindow::showSoundFile);
    connect(m_form->stopAfterCheck, &QCheckBox::clicked, this, &MainWindow::updateStopAfterControls);
    connect(m_form->endingCheck, &QCheckBox::clicked, this, &MainWindow::updateEndingControls);
    connect(m_form->highBitrateLimitEdit, &QLineEdit::textChanged, this, &MainWindow::refreshEstimate);
    connect(m_form->audioEdit, &QLineEdit::textChanged, this, &MainWindow::refreshEstimate);
    connect(m_form->finalSizeEdit, &QLineEdit::textChanged, this, &MainWindow::refreshEstimate);
    connect(m_form->smootherCheck, &QCheckBox::clicked, this, &MainWindow::refreshEstimate);
    connect(m_form->loadButton, &QPushButton::clicked, this, &MainWindow::loadProfile);
    connect(m_form->saveButton, &QPushButton::clicked, this, &MainWindow::saveProfile);
    connect(m_form->exitButton, &QPushButton::clicked, this, &MainWindow::reject);
    connect(m_form->aboutAction, &QAction::triggered, this, &MainWindow::showAboutBox);
    connect(m_form->fitButton, &QPushButton::clicked, this, &MainWindow::runFit);
    connect(m_form->verifyAction, &QAction::triggered, this, &MainWindow::runVerify);
    connect(m_form->encodeAction, &QAction::triggered, this, &MainWindow::runEncode);
    connect(m_form->lmEncodeButton, &QPushButton::clicked, this, &MainWindow::runEncode);
    connect(m_form->makeAction, &QAction::triggered, this, &MainWindow::runMake);
    // The exact size follows the Low Motion and Ending AVIs as well as the estimate's settings.
    connect(m_form->lmPathEdit, &QLineEdit::textChanged, this, &MainWindow::refreshEstimate);
    connect(m_form->endingPathEdit, &QLineEdit::textChanged, this, &MainWindow::refreshEstimate);

    // The opening sequence. The first exchange puts the construction values into the controls
    // and empties the estimate label; the opening defaults come after it.
    showJobInControls();
    QIcon windowIcon;
    windowIcon.addFile(QStringLiteral(":/icons/app-32.xpm"), QSize(32, 32));
    windowIcon.addFile(QStringLiteral(":/icons/app-16.xpm"), QSize(16, 16));
    setWindowIcon(windowIcon);
    core::applyOpeningDefaults(m_job.settings);
    showJobInControls();
    updateEndingControls();
    updateStopAfterControls();
    showExactSize();
    keepSettingsShown();
    m_form->fmPathEdit->setFocus(Qt::OtherFocusReason);
}

MainWindow::~MainWindow() = default;

namespace {

// Reads a whole number from edit into field; false leaves field as it was.
bool readNumber(const QLineEdit* edit, int32_t& field)
{
    bool ok = false;
    const int value = edit->text().trimmed().toInt(&ok, 10);
    if (ok)
        field = value;
    return ok;
}

} // namespace

QLineEdit* MainWindow::readControls(core::JobSettings& settings) const
{
    const Ui::MainWindow& form = *m_form;
    settings.fastMotionPath = form.fmPathEdit->text().toStdString();
    settings.lowMotionPath = form.lmPathEdit->text().toStdString();
    settings.finalPath = form.finalPathEdit->text().toStdString();
    settings.endingPath = form.endingPathEdit->text().toStdString();
    settings.audioFilePath = form.audioFilePathEdit->text().toStdString();
    for (const auto& [edit, field] : {std::pair{form.framePosEdit, &settings.framePos},
                                      {form.finalSizeEdit, &settings.finalSizeMB},
                                      {form.audioEdit, &settings.audioKbps}}) {
        if (!readNumber(edit, *field))
            return edit;
    }
    settings.stopAfterEnabled = form.stopAfterCheck->isChecked();
    settings.endingEnabled = form.endingCheck->isChecked();
    for (const auto& [edit, field] : {std::pair{form.stopAfterFramesEdit, &settings.stopAfterFrames},
                                      {form.highBitrateLimitEdit, &settings.highBitrateLimit},
                                      {form.highRunMinGroupsEdit, &settings.highRunMinGroups},
                                      {form.lowRunMaxGroupsEdit, &settings.lowRunMaxGroups}}) {
        if (!readNumber(edit, *field))
            return edit;
    }
    settings.lowMotionBitrateText = form.lmBitrateLabel->text().toStdString();
    settings.sceneSwitchingSmoother = form.smootherCheck->isChecked();
    settings.writeStatisticFile = form.statisticFileCheck->isChecked();
    return nullptr;
}

bool MainWindow::storeControlsInJob()
{
    FlagScope exchange(m_exchanging);
    QLineEdit* without = readControls(m_job.settings);
    if (without == nullptr)
        return true;
    m_port->promptWholeNumber();
    without->setFocus(Qt::OtherFocusReason);
    without->selectAll();
    return false;
}

std::optional<core::JobSettings> MainWindow::settingsShown() const
{
    core::JobSettings shown = m_job.settings;
    if (readControls(shown) != nullptr)
        return std::nullopt;
    // The estimate follows the other settings; nobody sets it.
    shown.lowMotionBitrateText.clear();
    return shown;
}

void MainWindow::keepSettingsShown()
{
    m_keptSettings = settingsShown();
}

bool MainWindow::settingsChangedSinceKept() const
{
    const std::optional<core::JobSettings> shown = settingsShown();
    return !shown || shown != m_keptSettings;
}

void MainWindow::showJobInControls()
{
    FlagScope exchange(m_exchanging);
    const core::JobSettings& settings = m_job.settings;
    Ui::MainWindow& form = *m_form;
    showText(form.fmPathEdit, toQt(settings.fastMotionPath));
    showText(form.lmPathEdit, toQt(settings.lowMotionPath));
    showText(form.finalPathEdit, toQt(settings.finalPath));
    showText(form.endingPathEdit, toQt(settings.endingPath));
    showNumber(form.framePosEdit, settings.framePos);
    showNumber(form.finalSizeEdit, settings.finalSizeMB);
    showNumber(form.audioEdit, settings.audioKbps);
    form.stopAfterCheck->setChecked(settings.stopAfterEnabled);
    form.endingCheck->setChecked(settings.endingEnabled);
    showNumber(form.stopAfterFramesEdit, settings.stopAfterFrames);
    showNumber(form.highBitrateLimitEdit, settings.highBitrateLimit);
    showNumber(form.highRunMinGroupsEdit, settings.highRunMinGroups);
    showNumber(form.lowRunMaxGroupsEdit, settings.lowRunMaxGroups);
    showText(form.lmBitrateLabel, toQt(settings.lowMotionBitrateText));
    form.smootherCheck->setChecked(settings.sceneSwitchingSmoother);
    form.statisticFileCheck->setChecked(settings.writeStatisticFile);
    // After the audio field: a sound file puts its own Kbps there.
    showText(form.audioFilePathEdit, toQt(settings.audioFilePath));
    applySoundFile(true);
}

void MainWindow::runAnalyze()
{
    if (commandsBlocked())
        return;
    m_form->statusLabel->clear();
    m_madePlan.reset();
    core::BusyCursor busy(*m_port);
    // Like every command, Analyze goes on with whatever the exchange took in.
    (void)storeControlsInJob();
    // Only a completed Analyze has new values to show; its messages told the person the rest.
    if (engine::runAnalyze(m_job, *m_port) == engine::CommandOutcome::Completed) {
        showJobInControls();
        showExactSize();
    }
    showPlan();
}

void MainWindow::runCreate()
{
    if (commandsBlocked())
        return;
    m_form->statusLabel->clear();
    QElapsedTimer clock;
    clock.start();
    CreateSummary summary;
    {
        CopyScope copying(*this);
        core::BusyCursor busy(*m_port);
        (void)storeControlsInJob();
        m_port->forgetLastCommand();
        // Create shows its own messages and changes no setting, so nothing is exchanged back.
        summary.end = createEnd(engine::runCreate(m_job, *m_port), m_port->lastProgress());
    }
    summary.elapsedMs = clock.elapsed();
    summary.finalFileBytes = QFileInfo(toQt(m_job.settings.finalPath)).size();
    summary.groupsCopied = m_port->lastProgress().lastPosition;
    if (const std::optional<core::Message>& message = m_port->lastMessage())
        summary.endMessage = displayText(message->text).section(QLatin1Char('\n'), 0, 0);
    m_form->statusLabel->setText(createStatusText(summary));
}

void MainWindow::runEncode()
{
    if (commandsBlocked() || !storeControlsInJob())
        return;
    EncodeWindow window(m_job.settings, *m_picker, this);
    if (window.exec() != QDialog::Accepted)
        return;
    engine::CommandOutcome outcome = engine::CommandOutcome::Ended;
    core::Job job = m_job;
    job.settings.lowMotionPath = window.lowMotionPath().toStdString();
    {
        CopyScope encoding(*this);
        core::BusyCursor busy(*m_port);
        EncodeUiPort port(*m_port, this);
        engine::EncodeResult result;
        outcome = engine::runEncodeLowMotion(job, window.request(), media::ffmpegMedia(), port, result);
    }
    if (outcome == engine::CommandOutcome::Completed)
        setPath(&core::JobSettings::lowMotionPath, window.lowMotionPath());
}

void MainWindow::runMake()
{
    if (commandsBlocked() || !storeControlsInJob())
        return;
    MakeWindow window(m_job.settings, *m_picker, this);
    if (window.exec() != QDialog::Accepted)
        return;
    m_form->statusLabel->clear();
    const engine::MakeRequest request = window.request();
    engine::MakeResult result;
    engine::CommandOutcome outcome = engine::CommandOutcome::Ended;
    {
        CopyScope making(*this);
        core::BusyCursor busy(*m_port);
        MakeUiPort port(*m_port, this, request.mode);
        outcome = engine::runMake(request, media::ffmpegMedia(), port, result);
    }
    if (outcome != engine::CommandOutcome::Completed)
        return;
    (void)storeControlsInJob();
    m_job.settings.finalPath = request.finalPath;
    m_job.settings.finalSizeMB = request.finalSizeMB;
    if (result.mode == engine::MakeMode::Classic) {
        m_job.settings.fastMotionPath = result.fastMotionPath;
        m_job.settings.lowMotionPath = result.lowMotionPath;
        if (engine::runAnalyze(m_job, *m_port) == engine::CommandOutcome::Completed)
            m_job.settings.highBitrateLimit = result.highBitrateLimit;
    }
    showJobInControls();
    refreshEstimate();
    if (result.mode == engine::MakeMode::Quality) {
        m_madePlan = madePlanView(result, request.finalPath);
        showPlan();
    }
    m_form->statusLabel->setText(makeStatusText(result));
}

void MainWindow::refreshEstimate()
{
    if (commandsBlocked())
        return;
    m_madePlan.reset();
    (void)storeControlsInJob();
    engine::refreshEstimate(m_job);
    showJobInControls();
    showExactSize();
    showPlan();
}

void MainWindow::showExactSize()
{
    std::optional<engine::FinalSize>& size = m_exactSize;
    size.reset();
    if (m_job.state.analysed) {
        // Counted on every keystroke: no box may open, and Create's question is taken as answered Yes.
        engine::QuietUiPort quiet;
        size = engine::predictFinalSize(m_job.settings, m_sourceTables, quiet);
    }
    showText(m_form->exactSizeLabel,
             size ? QStringLiteral("Final AVI (MB): %1 + %2 audio")
                        .arg(localeMegabytes(size->fileBytes), localeMegabytes(size->audioReserveBytes))
                  : QString());
    m_form->fitButton->setEnabled(size.has_value());
}

void MainWindow::runFit()
{
    if (commandsBlocked())
        return;
    core::BusyCursor busy(*m_port);
    (void)storeControlsInJob();
    // The question about frame counts was settled for the size shown; "nothing fits" is shown.
    engine::QuietUiPort ui(m_port.get());
    const engine::FitResult fit = engine::fitLimit(m_job.settings, m_sourceTables, ui);
    if (fit.status != engine::FitStatus::Fitted)
        return;
    m_job.settings.highBitrateLimit = fit.limit;
    showJobInControls();
    refreshEstimate();
}

void MainWindow::runVerify()
{
    if (commandsBlocked())
        return;
    CopyScope checking(*this);
    (void)storeControlsInJob();
    const engine::VerifyReport report = engine::verifyFinalAvi(m_job.settings, *m_port);
    if (report.status == engine::VerifyStatus::Verified || report.status == engine::VerifyStatus::Differs)
        m_port->showMessage(report.message(m_port->numbers()));
}

void MainWindow::loadProfile()
{
    if (commandsBlocked())
        return;
    if (const std::optional<QString> path = pickFile(PickerKind::OpenExisting, profileFilters(), QString()))
        loadProfileFile(*path);
}

void MainWindow::loadProfileFile(const QString& path)
{
    if (commandsBlocked())
        return;
    m_form->statusLabel->clear();
    // Fields the profile does not set keep what the controls show now.
    (void)storeControlsInJob();
    profiles::readProfile(path.toStdString(), m_job.settings);
    showJobInControls();
    updateEndingControls();
    updateStopAfterControls();
    // The loaded settings have not been analysed yet; the label keeps its text until then.
    m_job.state.analysed = false;
    showExactSize();
    showPlan();
    keepSettingsShown();
}

bool MainWindow::openGivenFile(const QString& path)
{
    if (droppedFileKind(path) == DroppedFile::Profile) {
        const QFileInfo profile(path);
        if (!profile.isFile() || !profile.isReadable())
            return false;
        loadProfileFile(path);
    } else {
        // Whole, so that the pickers start in its folder whatever folder the program started in.
        setPath(&core::JobSettings::fastMotionPath, QFileInfo(path).absoluteFilePath());
    }
    keepSettingsShown();
    return true;
}

void MainWindow::saveProfile()
{
    if (commandsBlocked())
        return;
    std::optional<QString> path = pickFile(PickerKind::Save, profileFilters(), QString());
    if (!path)
        return;
    m_form->statusLabel->clear();
    if (fileNameExtension(*path).isEmpty())
        path->append(QStringLiteral(".ini"));
    (void)storeControlsInJob();
    // writeProfile tells the person about a failed write itself.
    const bool saved = profiles::writeProfile(path->toStdString(), m_job.settings, *m_port);
    showJobInControls();
    if (saved)
        keepSettingsShown();
}

std::optional<QString> MainWindow::pickFile(PickerKind kind, const QStringList& filters,
                                            const QString& currentPath)
{
    std::optional<QString> chosen =
        m_picker->pickFile(this, kind, filters, pickerStartFolder(currentPath, m_memory.lastFolder()));
    if (chosen)
        m_memory.rememberFolderOf(*chosen);
    return chosen;
}

void MainWindow::setPath(std::string core::JobSettings::*field, const QString& path)
{
    // Taken in first so that what was typed into other fields survives the exchange back.
    (void)storeControlsInJob();
    m_job.settings.*field = path.toStdString();
    showJobInControls();
    showExactSize();
}

void MainWindow::pickAvi(PickerKind kind, QLineEdit* edit, std::string core::JobSettings::*field,
                         bool completeExtension)
{
    if (commandsBlocked())
        return;
    std::optional<QString> path = pickFile(kind, aviFilters(), edit->text());
    if (!path)
        return;
    if (completeExtension && fileNameExtension(*path).isEmpty())
        path->append(QStringLiteral(".avi"));
    setPath(field, *path);
}

void MainWindow::pickFastMotionAvi()
{
    pickAvi(PickerKind::Open, m_form->fmPathEdit, &core::JobSettings::fastMotionPath, false);
}

void MainWindow::pickEndingAvi()
{
    pickAvi(PickerKind::Open, m_form->endingPathEdit, &core::JobSettings::endingPath, false);
}

void MainWindow::pickLowMotionAvi()
{
    pickAvi(PickerKind::Open, m_form->lmPathEdit, &core::JobSettings::lowMotionPath, false);
}

void MainWindow::pickFinalAvi()
{
    pickAvi(PickerKind::Save, m_form->finalPathEdit, &core::JobSettings::finalPath, true);
}

void MainWindow::pickAudioFile()
{
    if (commandsBlocked())
        return;
    const QStringList filters = {
        QStringLiteral("Sound files (*.mp3 *.mp2 *.ac3 *.dts *.wav *.mka *.mkv *.mp4 *.m4a *.avi)"),
        QStringLiteral("All files (*)")};
    if (const std::optional<QString> path =
            pickFile(PickerKind::OpenExisting, filters, m_form->audioFilePathEdit->text()))
        setPath(&core::JobSettings::audioFilePath, *path);
}

void MainWindow::showSoundFile()
{
    // An exchange shows the job's sound file itself once the audio field holds the job's value.
    if (!m_exchanging)
        applySoundFile(false);
}

void MainWindow::applySoundFile(bool fieldShowsJob)
{
    Ui::MainWindow& form = *m_form;
    const QString path = form.audioFilePathEdit->text().trimmed();
    const bool newPath = path != m_soundPath;
    if (newPath) {
        // A sound file is read once per path; its packets are not kept.
        m_soundPath = path;
        m_soundKbps.reset();
        m_soundInfo.clear();
        if (!path.isEmpty()) {
            const media::OpenedSound opened = media::SoundFile::open(path.toStdString());
            if (opened.sound) {
                m_soundKbps = engine::soundKbps(*opened.sound);
                m_soundInfo = QStringLiteral("%1, %2 Kbps")
                                  .arg(toQt(opened.sound->codecName()))
                                  .arg(opened.sound->kbps(), 0, 'f', 1);
            } else if (opened.status == media::SoundStatus::Refused) {
                m_soundInfo = toQt(core::messages::soundCodecRefused(opened.detail).text);
            } else {
                m_soundInfo = QStringLiteral("no sound to copy");
            }
        }
    }
    // The field's value is the reserve to give back later when it was typed, or when it comes from
    // a job whose sound file the field did not show yet.
    const bool reserveShown = form.audioEdit->isEnabled() || (fieldShowsJob && newPath);
    // The field's state is set before its text: the text's change runs the exchange, which comes
    // back here.
    form.audioEdit->setEnabled(!m_soundKbps);
    if (m_soundKbps) {
        if (reserveShown)
            m_typedAudioKbps = form.audioEdit->text();
        showText(form.audioEdit, QString::number(*m_soundKbps));
    } else if (!reserveShown) {
        showText(form.audioEdit, m_typedAudioKbps);
    }
    form.audioFileInfoLabel->setText(m_soundInfo);
    form.audioFileInfoLabel->setToolTip(m_soundInfo);
}

void MainWindow::updateEndingControls()
{
    if (commandsBlocked())
        return;
    (void)storeControlsInJob();
    const bool ending = m_job.settings.endingEnabled;
    m_form->endingPathEdit->setEnabled(ending);
    m_form->endingBrowseButton->setEnabled(ending);
    m_form->framePosLabel->setEnabled(ending);
    m_form->framePosEdit->setEnabled(ending);
    // The Stop-after box keeps its tick while the ending overrides it.
    m_form->stopAfterCheck->setEnabled(!ending);
    updateStopAfterControls();
}

void MainWindow::updateStopAfterControls()
{
    if (commandsBlocked())
        return;
    (void)storeControlsInJob();
    m_form->stopAfterFramesEdit->setEnabled(m_job.settings.stopAfterEnabled &&
                                            m_form->stopAfterCheck->isEnabled());
}

void MainWindow::showAboutBox()
{
    if (commandsBlocked())
        return;
    AboutBox box(this);
    box.exec();
}

void MainWindow::showPlanWindow()
{
    if (commandsBlocked())
        return;
    if (!m_planWindow) {
        // A child window: it closes with this one and is deleted when closed.
        m_planWindow = new PlanWindow(*m_picker, *m_port, this);
        m_planWindow->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_planWindow, &PlanWindow::limitDragged, this, &MainWindow::setHighBitrateLimit);
        // Centred over this window, on a screen that holds the whole of it.
        QRect frame(QPoint(), m_planWindow->frameGeometry().size());
        frame.moveCenter(frameGeometry().center());
        placeOnScreen(*m_planWindow, frame.topLeft());
    }
    showPlan();
    m_planWindow->show();
    m_planWindow->raise();
    m_planWindow->activateWindow();
}

void MainWindow::setHighBitrateLimit(int kbps)
{
    if (commandsBlocked())
        return;
    // The field's change runs refreshEstimate, as a typed limit does.
    showText(m_form->highBitrateLimitEdit, QString::number(kbps));
}

void MainWindow::showPlan()
{
    m_form->planButton->setEnabled((m_job.state.analysed && m_job.state.planTable.count() > 0) ||
                                   (m_madePlan && !m_madePlan->empty()));
    if (m_planWindow && m_madePlan)
        m_planWindow->showModel(*m_madePlan);
    else if (m_planWindow)
        m_planWindow->showPlan(m_job, m_exactSize ? std::optional<int64_t>(m_exactSize->fileBytes) : std::nullopt);
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
    if (enter && plain) {
        event->accept();
        if (commandsBlocked())
            return;
        // No button is the default: Enter presses the focused push button. In a field it does
        // nothing; the value reaches the job at the next command.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isEnabled())
            button->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void MainWindow::reject()
{
    // Closing during the copy would destroy the job the copy reads; the progress window's
    // Abort ends the copy instead.
    if (m_copying)
        return;
    if (settingsChangedSinceKept() && !m_port->askYesNo(core::messages::quitWithoutSaving()))
        return;
    QDialog::reject();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    placeOnScreen(*this, pos());
}

void MainWindow::done(int result)
{
    m_memory.rememberPosition(pos());
    if (m_planWindow)
        m_planWindow->close();
    QDialog::done(result);
}


MainWindow::PlannedDrop MainWindow::planDrop(const QDropEvent& event) const
{
    const QList<QUrl> urls = event.mimeData()->urls();
    if (commandsBlocked() || urls.size() != 1 || !urls.front().isLocalFile())
        return {};
    const Ui::MainWindow& form = *m_form;
    const std::pair<QWidget*, DropTarget> fields[] = {{form.fmPathEdit, DropTarget::FastMotionField},
                                                      {form.endingPathEdit, DropTarget::EndingField},
                                                      {form.lmPathEdit, DropTarget::LowMotionField},
                                                      {form.finalPathEdit, DropTarget::FinalField}};
    DropTarget target = DropTarget::Window;
    if (QWidget* under = childAt(event.position().toPoint())) {
        for (const auto& [field, fieldTarget] : fields) {
            if (field == under || field->isAncestorOf(under))
                target = fieldTarget;
        }
    }
    const DropContext context = {form.endingPathEdit->isEnabled(),
                                 form.fmPathEdit->text().trimmed().isEmpty(),
                                 form.lmPathEdit->text().trimmed().isEmpty()};
    const QString path = urls.front().toLocalFile();
    return {path, dropAction(target, droppedFileKind(path), context)};
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    dragMoveEvent(event);
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event)
{
    answerDrag(*event, !droppedSoundFile(*event).isEmpty() || planDrop(*event).action != DropAction::Refuse);
}

QString MainWindow::droppedSoundFile(const QDropEvent& event) const
{
    const QList<QUrl> urls = event.mimeData()->urls();
    QWidget* under = childAt(event.position().toPoint());
    if (commandsBlocked() || urls.size() != 1 || !urls.front().isLocalFile() ||
        under != m_form->audioFilePathEdit)
        return {};
    return urls.front().toLocalFile();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    // The sound field takes any one file; the film fields and the window follow their own rules.
    if (const QString sound = droppedSoundFile(*event); !sound.isEmpty()) {
        answerDrag(*event, true);
        setPath(&core::JobSettings::audioFilePath, sound);
        return;
    }
    const PlannedDrop drop = planDrop(*event);
    answerDrag(*event, drop.action != DropAction::Refuse);
    if (!event->isAccepted())
        return;
    switch (drop.action) {
    case DropAction::Refuse:
        break;
    case DropAction::SetFastMotion:
        setPath(&core::JobSettings::fastMotionPath, drop.path);
        break;
    case DropAction::SetEnding:
        setPath(&core::JobSettings::endingPath, drop.path);
        break;
    case DropAction::SetLowMotion:
        setPath(&core::JobSettings::lowMotionPath, drop.path);
        break;
    case DropAction::SetFinal:
        setPath(&core::JobSettings::finalPath, drop.path);
        break;
    case DropAction::LoadProfile:
        loadProfileFile(drop.path);
        break;
    }
}

} // namespace app
