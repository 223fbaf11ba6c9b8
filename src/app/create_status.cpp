#include "app/create_status.h"

#include "app/locale_numbers.h"

namespace app {

namespace {

QString megabytes(int64_t bytes)
{
    return localeMegabytes(bytes) + QStringLiteral(" MB");
}

QString minutesAndSeconds(int64_t milliseconds)
{
    const int64_t seconds = (milliseconds + 500) / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

CreateEnd createEnd(engine::CommandOutcome outcome, const ProgressRecord& progress)
{
    if (outcome == engine::CommandOutcome::Completed)
        return CreateEnd::Written;
    return progress.opened && progress.cancelled ? CreateEnd::Aborted : CreateEnd::Failed;
}

QString createStatusText(const CreateSummary& summary)
{
    switch (summary.end) {
    case CreateEnd::Written:
        return QStringLiteral("Final AVI written: %1 in %2")
            .arg(megabytes(summary.finalFileBytes), minutesAndSeconds(summary.elapsedMs));
    case CreateEnd::Aborted:
        return QStringLiteral("Create aborted: the Final AVI holds the %1 %2 copied, %3")
            .arg(localeNumber(summary.groupsCopied),
                 summary.groupsCopied == 1 ? QStringLiteral("group") : QStringLiteral("groups"),
                 megabytes(summary.finalFileBytes));
    case CreateEnd::Failed:
        break;
    }
    // The message says what went wrong; it may also have come after a complete Final AVI, when
    // only the statistics file could not be written.
    if (summary.endMessage.isEmpty())
        return QStringLiteral("Create ended: nothing was written");
    return QStringLiteral("Create ended: ") + summary.endMessage;
}

} // namespace app
