#include "app/make_window.h"

#include "ui_encode_progress_window.h"
#include "ui_make_window.h"

#include "engine/quiet_ui_port.h"
#include "engine/source_tables.h"

#include <QFileInfo>
#include <QRegularExpressionValidator>

#include <algorithm>

namespace app {

namespace {

// The progress of one step, shown in the Make's one window.
class StepProgress : public core::ProgressPort {
public:
    explicit StepProgress(MakeProgressWindow& window) : m_window(window) { m_window.beginStep(); }
    void setRange(int32_t lower, int32_t upper, int32_t) override { m_window.setRange(lower, upper); }
    int32_t setPosition(int32_t position) override
    {
        const int32_t previous = m_position;
        m_position = position;
        m_window.setPosition(position);
        return previous;
    }
    void setStatistics(const core::ProgressStatistics&) override {}
    void setEncodeProgress(const core::EncodeProgress& progress) override { m_window.setStep(progress); }
    void pumpMessages(bool allowEscape) override { m_window.pumpMessages(allowEscape); }
    bool cancelled() const override { return m_window.cancelled(); }

private:
    MakeProgressWindow& m_window;
    int32_t m_position = 0;
};

} // namespace

MakeWindow::MakeWindow(const core::JobSettings& settings, FilePicker& picker, QWidget* parent)
    : QDialog(parent), m_form(std::make_unique<Ui::MakeWindow>()), m_picker(picker)
{
    m_form->setupUi(this);
    for (QLineEdit* edit : {m_form->sizeEdit, m_form->audioKbpsEdit})
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    m_form->finalPathEdit->setText(QString::fromStdString(settings.finalPath));
    m_form->sizeEdit->setText(QString::number(settings.finalSizeMB));
    m_form->audioKbpsEdit->setText(QString::number(settings.audioKbps > 0 ? settings.audioKbps : 128));
    connect(m_form->sourceBrowseButton, &QPushButton::clicked, this, &MakeWindow::pickSource);
    connect(m_form->finalBrowseButton, &QPushButton::clicked, this, &MakeWindow::pickFinalAvi);
    connect(m_form->buttonBox, &QDialogButtonBox::accepted, this, &MakeWindow::accept);
    connect(m_form->buttonBox, &QDialogButtonBox::rejected, this, &MakeWindow::reject);
}

MakeWindow::~MakeWindow() = default;

engine::MakeRequest MakeWindow::request() const
{
    engine::MakeRequest request;
    request.sourcePath = m_form->sourcePathEdit->text().trimmed().toStdString();
    const QString finalPath = m_form->finalPathEdit->text().trimmed();
    request.finalPath = finalPath.toStdString();
    request.finalSizeMB = m_form->sizeEdit->text().toInt();
    request.audioKbps = m_form->audioKbpsEdit->text().isEmpty() ? 128 : m_form->audioKbpsEdit->text().toInt();
    request.mode = m_form->modeCombo->currentIndex() == 1 ? engine::MakeMode::Classic : engine::MakeMode::Quality;
    request.keepWork = request.mode == engine::MakeMode::Classic;
    request.replaceAgreed = !m_pickedPath.isEmpty() && m_pickedPath == finalPath;
    return request;
}

void MakeWindow::pickSource()
{
    const QStringList filters = {tr("Films (*.avi *.mkv *.mp4 *.mov *.m4v *.mpg *.mpeg *.ts *.webm *.wmv)"),
                                 tr("All files (*)")};
    if (const std::optional<QString> path = m_picker.pickFile(this, PickerKind::OpenExisting, filters,
                                                              QFileInfo(m_form->sourcePathEdit->text()).path()))
        m_form->sourcePathEdit->setText(*path);
}

void MakeWindow::pickFinalAvi()
{
    const QString current = m_form->finalPathEdit->text().trimmed();
    const QString start = QFileInfo(current.isEmpty() ? m_form->sourcePathEdit->text() : current).path();
    if (const std::optional<QString> path = m_picker.pickFile(this, PickerKind::Save, aviFilters(), start)) {
        m_form->finalPathEdit->setText(*path);
        m_pickedPath = *path;
    }
}

void MakeWindow::accept()
{
    if (m_form->finalPathEdit->text().trimmed().isEmpty())
        pickFinalAvi();
    if (!m_form->finalPathEdit->text().trimmed().isEmpty())
        QDialog::accept();
}

MakeProgressWindow::MakeProgressWindow(int32_t expectedSteps, QWidget* parent)
    : AbortableWindow(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_form(std::make_unique<Ui::EncodeProgressWindow>()), m_expectedSteps(std::max(expectedSteps, 1))
{
    m_form->setupUi(this);
    setWindowTitle(tr("Making [0%]"));
    connect(m_form->abortButton, &QPushButton::clicked, this, &MakeProgressWindow::abortCommand);
}

MakeProgressWindow::~MakeProgressWindow() = default;

void MakeProgressWindow::beginStep()
{
    ++m_stepsBegun;
    m_expectedSteps = std::max(m_expectedSteps, m_stepsBegun);
    m_form->progressBar->reset();
    m_form->speedLabel->clear();
}

void MakeProgressWindow::setRange(int32_t lower, int32_t upper)
{
    m_form->progressBar->setRange(lower, std::max(lower, upper));
    showPercent();
}

void MakeProgressWindow::setPosition(int32_t position)
{
    if (!isVisible() && !aborted()) {
        setAttribute(Qt::WA_ShowWithoutActivating, true);
        show();
    }
    m_form->progressBar->setValue(std::clamp(position, m_form->progressBar->minimum(), m_form->progressBar->maximum()));
    showPercent();
}

void MakeProgressWindow::setStep(const core::EncodeProgress& progress)
{
    const QString left = progress.secondsLeft < 0
                             ? QStringLiteral("--:--")
                             : QStringLiteral("%1:%2").arg(progress.secondsLeft / 60).arg(progress.secondsLeft % 60, 2, 10,
                                                                                          QLatin1Char('0'));
    // A Fast or Low Motion encode of classic mode tells its pass instead of a step's name.
    const QString step = progress.step.empty()
                             ? tr("Encoding, pass %1 of %2").arg(progress.pass).arg(progress.passes)
                             : QString::fromStdString(progress.step);
    m_form->speedLabel->setText(tr("%1: %2 left").arg(step, left));
    showPercent();
}

void MakeProgressWindow::showPercent()
{
    const int64_t span = m_form->progressBar->maximum() - m_form->progressBar->minimum();
    const double step =
        span > 0 ? double(std::max(m_form->progressBar->value() - m_form->progressBar->minimum(), 0)) / double(span) : 0.0;
    const int percent = static_cast<int>((std::max(m_stepsBegun - 1, 0) + step) * 100 / m_expectedSteps);
    m_percent = std::clamp(std::max(percent, m_percent), 0, 100);
    setWindowTitle(tr("Making [%1%]").arg(m_percent));
}

MakeUiPort::MakeUiPort(core::UiPort& inner, QWidget* owner, engine::MakeMode mode)
    : m_inner(inner),
      // Quality: probe, level encodes, verify. Classic: Fast Motion, Low Motion, Create, Verify, PSNR.
      // The sound's encode, when there is one, comes on top.
      m_window(std::make_unique<MakeProgressWindow>(mode == engine::MakeMode::Quality ? 3 : 5, owner))
{
}

MakeUiPort::~MakeUiPort() = default;

std::unique_ptr<core::ProgressPort> MakeUiPort::openProgress() { return std::make_unique<StepProgress>(*m_window); }

QString makeStatusText(const engine::MakeResult& result)
{
    const double percent =
        result.targetBytes > 0 ? static_cast<double>(result.finalFileBytes) * 100 / static_cast<double>(result.targetBytes)
                               : 0.0;
    return QObject::tr("Final AVI written: %1 bytes of %2 (%3 %), PSNR %4 dB, %5 groups from %6 encodes")
        .arg(result.finalFileBytes)
        .arg(result.targetBytes)
        .arg(percent, 0, 'f', 2)
        .arg(result.psnr, 0, 'f', 2)
        .arg(result.groups)
        .arg(result.encodes);
}

engine::PlanViewModel madePlanView(const engine::MakeResult& result, const std::string& finalPath)
{
    if (result.mode != engine::MakeMode::Quality || result.groupLevels.empty())
        return {};
    engine::SourceTableCache tables;
    engine::QuietUiPort quiet;
    const engine::SourceTable* table = tables.table(engine::SourceRole::FastMotion, finalPath, quiet);
    if (!table || table->frames.count() == 0)
        return {};
    // A group starts at every key frame.
    const int32_t frames = table->frames.count();
    std::vector<int64_t> groupBytes;
    int32_t framesPerGroup = frames;
    for (int32_t f = 0; f < frames; ++f) {
        if (table->frames[f].isKey || groupBytes.empty()) {
            if (groupBytes.size() == 1)
                framesPerGroup = f;
            groupBytes.push_back(0);
        }
        groupBytes.back() += table->frames[f].size;
    }
    output::SourcePlan plan;
    plan.framesPerGroup = framesPerGroup;
    for (const int32_t level : result.groupLevels)
        plan.groups.push_back({level, 0, output::GroupTally::None});
    std::vector<std::string> names;
    for (const engine::MakeLevelUse& use : result.levels) {
        const engine::MakeLevel& level = use.level;
        names.push_back((level.keyQuantizer == level.quantizer
                             ? QObject::tr("Quantizer %1").arg(level.quantizer)
                             : QObject::tr("Quantizer %1, key frames %2").arg(level.quantizer).arg(level.keyQuantizer))
                            .toStdString());
    }
    const double framesPerSecond =
        table->info.dwScale > 0 ? static_cast<double>(table->info.dwRate) / table->info.dwScale : 0.0;
    return engine::PlanViewModel::fromSourcePlan(plan, std::move(names), groupBytes, frames, framesPerSecond,
                                                 result.finalFileBytes);
}

} // namespace app
