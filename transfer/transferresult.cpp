#include "transfer/transferresult.h"

#include <QLocale>
#include <QStringList>

namespace kirt {

QString protocolName(TransferProtocol protocol)
{
    switch (protocol) {
    case TransferProtocol::Xmodem:
        return QStringLiteral("XMODEM");
    case TransferProtocol::Ymodem:
        return QStringLiteral("YMODEM");
    case TransferProtocol::Zmodem:
        return QStringLiteral("ZMODEM");
    }
    return {};
}

namespace {

// "fw.bin", "a.bin, b.bin, c.bin", "a.bin, b.bin, c.bin and 4 more"; a file written under a
// new name says which it was sent as.
QString fileNames(const QList<TransferFile>& files)
{
    constexpr qsizetype Shown = 3;
    QStringList names;
    for (qsizetype i = 0; i < files.size() && i < Shown; ++i) {
        const TransferFile& file = files[i];
        names << (file.sentAs.isEmpty() || file.sentAs == file.name
                      ? file.name
                      : QStringLiteral("%1 (sent as %2)").arg(file.name, file.sentAs));
    }
    QString text = names.join(QStringLiteral(", "));
    if (files.size() > Shown)
        text += QStringLiteral(" and %1 more").arg(files.size() - Shown);
    return text;
}

} // namespace

QString summaryLine(const TransferResult& result)
{
    const QLocale english(QLocale::English);
    const bool send = result.direction == TransferDirection::Send;
    const QString names = fileNames(result.files);
    QString what;
    if (result.end == TransferResult::End::Done) {
        what = (send ? QStringLiteral("sent ") : QStringLiteral("received ")) +
               (names.isEmpty() ? QStringLiteral("nothing") : names);
    } else {
        what = send ? QStringLiteral("sending") : QStringLiteral("receiving");
        if (!names.isEmpty())
            what += u' ' + names;
        what += result.end == TransferResult::End::Cancelled ? QStringLiteral(" cancelled")
                                                             : QStringLiteral(" failed");
    }
    const double seconds = static_cast<double>(result.ms) / 1000.0;
    const auto rate = static_cast<qulonglong>(
        result.ms > 0 ? static_cast<double>(result.bytes) / seconds + 0.5 : 0.0);
    QString line =
        QStringLiteral("%1: %2, %3 bytes in %4 s, %5 B/s, %6 %7")
            .arg(protocolName(result.protocol), what, english.toString(qulonglong(result.bytes)),
                 QString::number(seconds, 'f', 1), english.toString(rate))
            .arg(result.retries)
            .arg(result.retries == 1 ? QStringLiteral("retry") : QStringLiteral("retries"));
    if (result.end == TransferResult::End::Failed && !result.reason.isEmpty())
        line += QStringLiteral(": ") + result.reason;
    return line;
}

} // namespace kirt
