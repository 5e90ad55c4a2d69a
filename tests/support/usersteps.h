#pragma once

#include "tests/support/windowfixture.h"
#include "ui/datalineedit.h"
#include "ui/receivedisplay.h"

#include <QProgressBar>

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

// What a file transmit shows: the display, the panel below it and the panel's gauge.
struct TransmitView
{
    ReceiveDisplay* display;
    QWidget* downloadPanel;
    QProgressBar* gauge;
};

// The window shown in a display format, with what a file transmit shows in it.
inline TransmitView showForTransmit(WindowFixture& f, int format)
{
    f.showWithDisplayFormat(format);
    return {f.display(), f.find<QWidget>(QStringLiteral("DownloadPanel")),
            f.find<QProgressBar>(QStringLiteral("DownloadCGauge"))};
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
