#pragma once

#include "tests/support/windowfixture.h"
#include "ui/datalineedit.h"

#include <QString>

namespace kirt::test {

// Transmit line n (1 to 9).
inline DataLineEdit* transmitEdit(WindowFixture& f, int n)
{
    return f.find<DataLineEdit>(QStringLiteral("TransmitEdit%1").arg(n));
}

// The window active with the transmit board in front; false if it did not become active.
[[nodiscard]] inline bool startOnTheBoard(WindowFixture& f)
{
    const bool active = f.showActive();
    f.click(QStringLiteral("TransmitDataView_BitBtn"));
    return active;
}

// File > Open with the port open, the file picked and the question to send it answered yes.
inline void startFileTransmit(WindowFixture& f, const QString& path)
{
    f.answers.paths.push_back(path);
    f.answers.answers.push_back(true);
    f.triggerAction(QStringLiteral("FileOpen"));
}

// The real-time log started into path with the port open; true once it runs.
[[nodiscard]] inline bool startLog(WindowFixture& f, const QString& path)
{
    f.answers.answers.push_back(true);
    f.answers.paths.push_back(path);
    f.triggerAction(QStringLiteral("RunTimeSave1"));
    return f.window().realTimeSaveOn();
}

} // namespace kirt::test
