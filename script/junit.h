#pragma once

#include "script/scriptreport.h"

#include <QString>

namespace kirt {

// The outcome as a JUnit XML report: one suite named after the script, one test case each,
// a failure with its reason; a run that failed outside any case (stopped, timed out, an error
// at the top level, not loaded) adds a case named after the script that carries it.
QByteArray junitReport(const QString& scriptName, const ScriptOutcome& outcome);

} // namespace kirt
