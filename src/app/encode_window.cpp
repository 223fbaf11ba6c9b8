#include "app/encode_window.h"

#include "ui_encode_progress_window.h"
#include "ui_encode_window.h"

#include <QFileInfo>
#include <QRegularExpressionValidator>

#include <algorithm>

namespace app {

EncodeWindow::EncodeWindow(const core::JobSettings& settings, FilePicker& picker, QWidget* parent)
    : QDialog(parent), m_form(std::make_unique<Ui::EncodeWindow>()), m_picker(picker),
      m_fastMotionPath(QString::fromStdString(settings.fastMotionPath))
{
    m_form->setupUi(this);
    m_form->sourcePathEdit->setText(m_fastMotionPath);
    m_form->kbpsEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_form->kbpsEdit));
    bool isNumber = false;
    const int estimate = QString::fromStdString(settings.lowMotionBitrateText).toInt(&isNumber);
    if (isNumber && estimate > 0)
        m_form->kbpsEdit->setText(QString::number(estimate));
    m_form->lmPathEdit->setText(QString::fromStdString(settings.lowMotionPath));
    connect(m_form->sourceBrowseButton, &QPushButton::clicked, this, &EncodeWindow::pickSource);
    connect(m_form->lmBrowseButton, &QPushButton::clicked, this, &EncodeWindow::pickLowMotionAvi);
    connect(m_form->buttonBox, &QDialogButtonBox::accepted, this, &EncodeWindow::accept);
    connect(m_form->buttonBox, &QDialogButtonBox::rejected, this, &EncodeWindow::reject);
}

EncodeWindow::~EncodeWindow() = default;

engine::LowMotionEncodeRequest EncodeWindow::request() const
{
    engine::LowMotionEncodeRequest request;
    const QString source = m_form->sourcePathEdit->text().trimmed();
    if (source != m_fastMotionPath)
        request.sourcePath = source.toStdString();
    request.kbps = m_form->kbpsEdit->text().toInt(); // empty: 0, the estimate
    request.passes = m_form->twoPassCheck->isChecked() ? 2 : 1;
    request.replaceAgreed = !m_pickedPath.isEmpty() && m_pickedPath == lowMotionPath();
    return request;
}

QString EncodeWindow::lowMotionPath() const { return m_form->lmPathEdit->text().trimmed(); }

void EncodeWindow::pickSource()
{
    const QStringList filters = {tr("Films (*.avi *.mkv *.mp4 *.mov *.m4v *.mpg *.mpeg *.ts *.webm *.wmv)"),
                                 tr("All files (*)")};
    if (const std::optional<QString> path = m_picker.pickFile(this, PickerKind::OpenExisting, filters,
                                                              QFileInfo(m_form->sourcePathEdit->text()).path()))
        m_form->sourcePathEdit->setText(*path);
}

void EncodeWindow::pickLowMotionAvi()
{
    const QString start = lowMotionPath().isEmpty() ? QFileInfo(m_fastMotionPath).path() : QFileInfo(lowMotionPath()).path();
    if (const std::optional<QString> path = m_picker.pickFile(this, PickerKind::Save, aviFilters(), start)) {
        m_form->lmPathEdit->setText(*path);
        m_pickedPath = lowMotionPath();
    }
}

void EncodeWindow::accept()
{
    if (lowMotionPath().isEmpty())
        pickLowMotionAvi();
    if (!lowMotionPath().isEmpty())
        QDialog::accept();
}

EncodeProgressWindow::EncodeProgressWindow(QWidget* parent)
    : AbortableWindow(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_form(std::make_unique<Ui::EncodeProgressWindow>())
{
    m_form->setupUi(this);
    connect(m_form->abortButton, &QPushButton::clicked, this, &EncodeProgressWindow::abortCommand);
}

EncodeProgressWindow::~EncodeProgressWindow() = default;

void EncodeProgressWindow::setRange(int32_t lower, int32_t upper, int32_t)
{
    m_form->progressBar->setRange(lower, std::max(lower, upper));
}

int32_t EncodeProgressWindow::setPosition(int32_t position)
{
    if (!isVisible()) {
        setAttribute(Qt::WA_ShowWithoutActivating, true);
        show();
    }
    const int32_t previous = m_form->progressBar->value();
    m_form->progressBar->setValue(std::clamp(position, m_form->progressBar->minimum(), m_form->progressBar->maximum()));
    const int span = m_form->progressBar->maximum() - m_form->progressBar->minimum();
    const int percent = span > 0 ? static_cast<int>(int64_t{m_form->progressBar->value()} * 100 / span) : 0;
    setWindowTitle(tr("Encoding [%1%]").arg(percent));
    return previous;
}

void EncodeProgressWindow::setEncodeProgress(const core::EncodeProgress& progress)
{
    const QString left = progress.secondsLeft < 0
                             ? QStringLiteral("--:--")
                             : QStringLiteral("%1:%2").arg(progress.secondsLeft / 60).arg(progress.secondsLeft % 60, 2, 10,
                                                                                          QLatin1Char('0'));
    m_form->speedLabel->setText(tr("Pass %1 of %2: %3 frames per second, %4 left")
                                    .arg(progress.pass)
                                    .arg(progress.passes)
                                    .arg(progress.framesPerSecond, 0, 'f', 1)
                                    .arg(left));
}

std::unique_ptr<core::ProgressPort> EncodeUiPort::openProgress()
{
    return std::make_unique<EncodeProgressWindow>(m_owner);
}

} // namespace app
