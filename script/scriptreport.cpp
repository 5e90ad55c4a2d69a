#include "script/scriptreport.h"

namespace kirt {

QString caseLine(const ScriptCase& result)
{
    return result.passed ? QStringLiteral("PASS %1 (%2 ms)").arg(result.name).arg(qRound(result.ms))
                         : QStringLiteral("FAIL %1: %2").arg(result.name, result.reason);
}

QString outcomeProblem(const ScriptOutcome& outcome)
{
    // An ended run names the case it cut short, so a long script's log need not be searched.
    const QString during = outcome.interruptedCase.isEmpty()
                               ? QString()
                               : QStringLiteral(" during case \"%1\"").arg(outcome.interruptedCase);
    switch (outcome.end) {
    case ScriptOutcome::End::Done:
        return {};
    case ScriptOutcome::End::Stopped:
        return QStringLiteral("stopped") + during;
    case ScriptOutcome::End::TimedOut:
        return QStringLiteral("the run's time limit expired") + during;
    case ScriptOutcome::End::OutOfMemory:
        return QStringLiteral("the script used more than %1 MB of memory")
                   .arg(ScriptRunner::ScriptMemoryBytes / (1024 * 1024)) +
               during;
    case ScriptOutcome::End::Failed:
    case ScriptOutcome::End::NotLoaded:
        break;
    }
    return outcome.error;
}

ScriptTally tallyOf(const ScriptOutcome& outcome)
{
    ScriptTally tally;
    tally.problem = outcomeProblem(outcome);
    const int extra = tally.problem.isEmpty() ? 0 : 1;
    tally.total = static_cast<int>(outcome.cases.size()) + extra;
    tally.failed = outcome.failedCases() + extra;
    return tally;
}

QString problemLine(const QString& scriptName, const QString& problem)
{
    return QStringLiteral("FAIL %1: %2").arg(scriptName, problem);
}

QString summaryLine(const ScriptOutcome& outcome)
{
    const ScriptTally tally = tallyOf(outcome);
    return QStringLiteral("%1 passed, %2 failed of %3 (%4 ms)")
        .arg(tally.passed())
        .arg(tally.failed)
        .arg(tally.total)
        .arg(qRound(outcome.ms));
}

} // namespace kirt
