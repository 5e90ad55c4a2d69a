#pragma once

#include "transfer/transfer.h"

#include <QProcess>
#include <QStringList>

class QTimer;

namespace kirt {

// ZMODEM through lrzsz: sz or rz runs with its standard input and output joined to the claimed
// port, and its report on standard error gives the progress. The program is looked for when a
// transfer starts, so installing lrzsz needs no restart.
class ZmodemJob final : public Transfer
{
    Q_OBJECT

public:
    // paths: the files to send, or the folder to receive into.
    ZmodemJob(PortController& port, TransferDirection direction, const QStringList& paths,
              QObject* parent = nullptr);
    ~ZmodemJob() override;

    // The program a direction needs; empty when it is not installed.
    static QString program(TransferDirection direction);
    static bool available() { return unavailableReason().isEmpty(); }
    // Why ZMODEM cannot run ("lrzsz is not installed: ..."); empty when it can.
    static QString unavailableReason();

    void start() override;
    void cancel() override;

    void received(const std::uint8_t* bytes, std::size_t count, const ReadTime& readAt) override;
    void claimEnded(ClaimEnd why) override;

    // Time the program has to end once told to stop, before it is killed.
    static constexpr int StopMs = 500;

private:
    void forwardOutput();
    void readReport();
    void reportLine(const QString& line);
    void exited(int code, QProcess::ExitStatus status);
    void stopProgram();

    QStringList m_paths;
    QProcess* m_process;
    QTimer* m_kill;
    QElapsedTimer m_clock;
    QByteArray m_report; // standard error not yet split into lines
    QString m_lastWords; // the program's last line that was not progress
    TransferResult m_result;
    TransferProgress m_progress;
    std::int64_t m_filesDone = 0; // bytes of the files finished
    bool m_cancelled = false;
    QString m_abandoned; // why the claim ended under the transfer
};

// Finds the start of a ZMODEM transfer ("**" 18h "B00", what sz sends first) in received bytes,
// also when it comes split across reads.
class ZmodemStartDetector
{
public:
    // True when these bytes complete the sequence.
    bool feed(const std::uint8_t* bytes, std::size_t count);
    void reset() { m_matched = 0; }

private:
    std::size_t m_matched = 0;
};

} // namespace kirt
