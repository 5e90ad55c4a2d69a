// Line stamps: the local time of day to the millisecond, or the time since the last stamp.
#include "display/rowstamp.h"

#include <QDateTime>
#include <QtTest>

using namespace std::chrono;

class TestRowStamp : public QObject
{
    Q_OBJECT

private slots:
    void timeAndDeltaTexts();
};

void TestRowStamp::timeAndDeltaTexts()
{
    kirt::RowStamps stamps;
    stamps.setMode(kirt::TimeStampMode::Time);
    const QDateTime local(QDate(2026, 12, 8), QTime(23, 59, 58, 7));
    const system_clock::time_point at{milliseconds(local.toMSecsSinceEpoch())};
    QString text;
    stamps.append(text, at, steady_clock::time_point{});
    stamps.append(text, at + milliseconds(1995), steady_clock::time_point{});
    QCOMPARE(text, QStringLiteral("[23:59:58.007] [00:00:00.002] "));

    // Seconds without a fixed width; the first stamp, and the first after a restart, is +0.
    stamps.setMode(kirt::TimeStampMode::Delta);
    text.clear();
    const steady_clock::time_point t0{seconds(100)};
    for (const milliseconds after : {0ms, 250ms, 12'345ms + 250ms, 1'000'000ms + 12'595ms})
        stamps.append(text, at, t0 + after);
    stamps.restart();
    stamps.append(text, at, t0);
    QCOMPARE(text, QStringLiteral("[+0.000] [+0.250] [+12.345] [+1000.000] [+0.000] "));
}

QTEST_GUILESS_MAIN(TestRowStamp)
#include "tst_rowstamp.moc"
