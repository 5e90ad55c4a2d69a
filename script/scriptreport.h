#pragma once

#include "script/scriptrunner.h"

#include <QString>

namespace kirt {

// The lines a person reads of a run, and its counts: the same in the window, without one and
// in the JUnit file.

// "PASS name (12 ms)" or "FAIL name: reason".
QString caseLine(const ScriptCase& result);

// What ended the run, for a person: empty when it ran to its end.
QString outcomeProblem(const ScriptOutcome& outcome);

// The cases counted, a failure outside every case (an error at the top level, a stop, the time
// limit) as one more failed case: a run that fails says so in its figures too.
struct ScriptTally
{
    int total = 0;
    int failed = 0;
    QString problem; // as outcomeProblem gives it

    int passed() const { return total - failed; }
};
ScriptTally tallyOf(const ScriptOutcome& outcome);

// "FAIL script.js: problem", for a failure outside every case.
QString problemLine(const QString& scriptName, const QString& problem);

// "2 passed, 1 failed of 3 (120 ms)".
QString summaryLine(const ScriptOutcome& outcome);

} // namespace kirt
