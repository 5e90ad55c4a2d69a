#include "transfer/zmodemjob.h"

#include "base/platform.h"
#include "transfer/blockcodec.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

namespace kirt {

ZmodemJob::ZmodemJob(PortController& port, TransferDirection direction, const QStringList& paths,
                     QObject* parent)
    : Transfer(port, TransferProtocol::Zmodem, direction, parent), m_paths(paths),
      m_process(new QProcess(this)), m_kill(new QTimer(this))
{
    m_result.protocol = TransferProtocol::Zmodem;
    m_result.direction = direction;
    connect(m_process, &QProcess::readyReadStandardOutput, this, &ZmodemJob::forwardOutput);
    connect(m_process, &QProcess::readyReadStandardError, this, &ZmodemJob::readReport);
    connect(m_process, &QProcess::finished, this, &ZmodemJob::exited);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        m_lastWords = m_process->errorString();
        exited(-1, QProcess::CrashExit);
    });
    m_kill->setSingleShot(true);
    connect(m_kill, &QTimer::timeout, m_process, &QProcess::kill);
}

ZmodemJob::~ZmodemJob()
{
    if (m_process->state() == QProcess::NotRunning)
        return;
    m_process->disconnect(this);
    m_process->kill();
    m_process->waitForFinished(1000);
}

QString ZmodemJob::program(TransferDirection direction)
{
    // Debian's names, and the ones some systems give lrzsz's programs.
    const QStringList names = direction == TransferDirection::Send
                                  ? QStringList{QStringLiteral("sz"), QStringLiteral("lsz")}
                                  : QStringList{QStringLiteral("rz"), QStringLiteral("lrz")};
    for (const QString& name : names) {
        const QString found = QStandardPaths::findExecutable(name);
        if (!found.isEmpty())
            return found;
    }
    return {};
}

QString ZmodemJob::unavailableReason()
{
    if (program(TransferDirection::Send).isEmpty() || program(TransferDirection::Receive).isEmpty())
        return QStringLiteral("lrzsz is not installed: sz and rz were not found");
    return {};
}

void ZmodemJob::start()
{
    m_clock.start();
    const QString exe = program(m_direction);
    if (exe.isEmpty()) {
        complete(failedResult(unavailableReason()));
        return;
    }
    QStringList arguments{QStringLiteral("-vv"), QStringLiteral("-b")};
    if (m_direction == TransferDirection::Send) {
        for (const QString& path : m_paths) {
            const auto status = platform::pathStatus(path, platform::Links::Follow);
            if (status.type != platform::FileStatus::Type::Regular) {
                complete(failedResult(QStringLiteral("%1 is not a file that can be sent")
                                          .arg(QFileInfo(path).fileName())));
                return;
            }
            m_result.files << TransferFile{QFileInfo(path).fileName(), {}, status.size};
        }
        arguments << QStringLiteral("--") << m_paths;
    } else {
        const QString folder = m_paths.value(0);
        if (platform::pathStatus(folder, platform::Links::Follow).type !=
            platform::FileStatus::Type::Folder) {
            complete(failedResult(QStringLiteral("%1 is not a folder").arg(folder)));
            return;
        }
        // A file that is there already stays: the new one gets a name of its own.
        arguments << QStringLiteral("-E");
        m_process->setWorkingDirectory(folder);
    }
    if (!claimPort())
        return;
    m_process->start(exe, arguments);
}

void ZmodemJob::cancel()
{
    if (!m_running || m_cancelled)
        return;
    m_cancelled = true;
    stopProgram();
}

void ZmodemJob::stopProgram()
{
    // lrzsz answers a polite stop by cancelling the transfer on its output.
    if (m_process->state() == QProcess::NotRunning)
        return;
    m_process->terminate();
    m_kill->start(StopMs);
}

void ZmodemJob::received(const std::uint8_t* bytes, std::size_t count, const ReadTime&)
{
    if (m_process->state() == QProcess::Running)
        m_process->write(reinterpret_cast<const char*>(bytes), static_cast<qint64>(count));
}

void ZmodemJob::claimEnded(ClaimEnd why)
{
    m_abandoned = claimEndReason(why);
    stopProgram();
}

void ZmodemJob::forwardOutput()
{
    const QByteArray out = m_process->readAllStandardOutput();
    if (m_abandoned.isEmpty())
        m_port.writeClaimed(*this, reinterpret_cast<const std::uint8_t*>(out.constData()),
                            static_cast<std::size_t>(out.size()));
}

void ZmodemJob::readReport()
{
    m_report += m_process->readAllStandardError();
    // Progress is redrawn with carriage returns, messages end with new lines.
    for (;;) {
        qsizetype cut = -1;
        for (qsizetype i = 0; i < m_report.size(); ++i)
            if (m_report[i] == '\r' || m_report[i] == '\n') {
                cut = i;
                break;
            }
        if (cut < 0)
            return;
        const QString line = QString::fromLocal8Bit(m_report.left(cut)).trimmed();
        m_report.remove(0, cut + 1);
        if (!line.isEmpty())
            reportLine(line);
    }
}

void ZmodemJob::reportLine(const QString& line)
{
    static const QRegularExpression fileStart(QStringLiteral("^(Sending|Receiving): (.*)$"));
    static const QRegularExpression bytes(
        QStringLiteral("^Bytes (?:Sent|received):\\s*(\\d+)(?:/\\s*(\\d+))?"));
    if (const auto match = fileStart.match(line); match.hasMatch()) {
        if (!m_progress.file.isEmpty()) {
            m_filesDone += m_progress.fileDone;
            if (m_direction == TransferDirection::Receive)
                m_result.files << TransferFile{m_progress.file, {}, m_progress.fileDone};
        }
        m_progress.file = match.captured(2);
        m_progress.fileDone = 0;
        m_progress.fileSize = -1;
    } else if (const auto count = bytes.match(line); count.hasMatch()) {
        m_progress.fileDone = count.captured(1).toLongLong();
        if (!count.captured(2).isEmpty())
            m_progress.fileSize = count.captured(2).toLongLong();
    } else if (line.startsWith(QLatin1String("Retry"))) {
        ++m_progress.retries;
    } else if (!line.startsWith(QLatin1String("Transfer complete"))) {
        m_lastWords = line;
        return;
    }
    m_progress.done = m_filesDone + m_progress.fileDone;
    m_progress.ms = m_clock.elapsed();
    emit progress(m_progress);
}

void ZmodemJob::exited(int code, QProcess::ExitStatus status)
{
    if (!m_running)
        return;
    m_kill->stop();
    forwardOutput();
    readReport();
    if (!m_report.trimmed().isEmpty())
        reportLine(QString::fromLocal8Bit(m_report).trimmed());
    m_report.clear();
    if (!m_progress.file.isEmpty() && m_direction == TransferDirection::Receive)
        m_result.files << TransferFile{m_progress.file, {}, m_progress.fileDone};
    m_result.bytes = static_cast<std::uint64_t>(m_filesDone + m_progress.fileDone);
    m_result.retries = m_progress.retries;
    m_result.ms = m_clock.elapsed();
    if (!m_abandoned.isEmpty()) {
        m_result.end = TransferResult::End::Failed;
        m_result.reason = m_abandoned;
    } else if (m_cancelled) {
        // Also when the program was killed before it could say so itself.
        const QByteArray cancel = xmodem::cancelSequence();
        m_port.writeClaimed(*this, reinterpret_cast<const std::uint8_t*>(cancel.constData()),
                            static_cast<std::size_t>(cancel.size()));
        m_result.end = TransferResult::End::Cancelled;
        m_result.reason = QStringLiteral("cancelled");
    } else if (code == 0 && status == QProcess::NormalExit) {
        m_result.end = TransferResult::End::Done;
    } else {
        m_result.end = TransferResult::End::Failed;
        m_result.reason = !m_lastWords.isEmpty()
                              ? m_lastWords
                              : QStringLiteral("%1 ended with code %2")
                                    .arg(QFileInfo(m_process->program()).fileName())
                                    .arg(code);
    }
    complete(m_result);
}

bool ZmodemStartDetector::feed(const std::uint8_t* bytes, std::size_t count)
{
    static constexpr std::uint8_t Start[] = {'*', '*', 0x18, 'B', '0', '0'};
    bool found = false;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        if (byte == Start[m_matched]) {
            if (++m_matched == sizeof Start) {
                found = true;
                m_matched = 0;
            }
        } else if (byte == '*') {
            // "***" still ends in the "**" the sequence begins with.
            m_matched = m_matched == 2 ? 2 : 1;
        } else {
            m_matched = 0;
        }
    }
    return found;
}

} // namespace kirt
