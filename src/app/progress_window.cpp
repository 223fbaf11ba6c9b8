#include "app/progress_window.h"

#include "app/dialog_units.h"
#include "core/format_thousands.h"
#include "ui_progress_window.h"


#include <algorithm>

namespace app {

namespace {

QString sizeText(int64_t bytes)
{
    return QString::fromStdString(core::formatBytesWithMegabytes(bytes));
}

} // namespace

ProgressWindow::ProgressWindow(QWidget* parent)
    : AbortableWindow(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_form(std::make_unique<Ui::ProgressWindow>())
{
    m_form->setupUi(this);
    applyDialogUnits(*this);
    setWindowTitle(QString());
    for (QLabel* label : {m_form->fmLengthLabel, m_form->fmSizeLabel, m_form->lmLengthLabel,
                          m_form->lmSizeLabel, m_form->totalSizeLabel})
        label->clear();
    m_form->progressBar->setRange(0, 100);
    m_form->progressBar->setValue(0);
    connect(m_form->abortButton, &QPushButton::clicked, this, &ProgressWindow::abortCommand);
}

ProgressWindow::~ProgressWindow() = default;

void ProgressWindow::showWithoutActivating()
{
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    show();
}

void ProgressWindow::setRange(int32_t lower, int32_t upper, int32_t step)
{
    m_form->progressBar->setRange(lower, std::max(lower, upper));
    m_lower = lower;
    m_upper = upper;
    m_step = step;
}

int32_t ProgressWindow::setPosition(int32_t position)
{
    if (!isVisible())
        showWithoutActivating();
    // 64-bit so that no position can overflow the product.
    const int64_t percent =
        m_upper > m_lower ? static_cast<int64_t>(position) * 100 / (static_cast<int64_t>(m_upper) - m_lower)
                          : 0;
    if (percent != m_lastPercent) {
        m_lastPercent = percent;
        setWindowTitle(QStringLiteral("Progress [%1%]").arg(percent));
    }
    const int32_t previous = m_barPosition;
    m_barPosition = std::clamp(position, m_form->progressBar->minimum(), m_form->progressBar->maximum());
    m_form->progressBar->setValue(m_barPosition);
    return previous;
}

void ProgressWindow::setStatistics(const core::ProgressStatistics& statistics)
{
    m_form->fmLengthLabel->setText(QString::number(statistics.fmSeconds));
    m_form->fmSizeLabel->setText(sizeText(statistics.fmBytes));
    m_form->lmLengthLabel->setText(QString::number(statistics.lmSeconds));
    m_form->lmSizeLabel->setText(sizeText(statistics.lmBytes));
    m_form->totalSizeLabel->setText(sizeText(statistics.totalBytes));
}

} // namespace app
