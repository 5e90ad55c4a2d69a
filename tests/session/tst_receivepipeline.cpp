// The receive pipeline on its own: a batch gives what the same bytes give one step at a time,
// wherever the reads split them, and a failed allocation costs the batch, not the program.
#include "session/receivepipeline.h"

#include <QTemporaryDir>
#include <QtTest>

#include <new>

namespace {

// What the pipeline hands on, in one transcript: wire bytes, display events, counts.
class Recorder final : public kirt::ReceiveOutput, public kirt::ReceiveDisplaySink
{
public:
    void writeEcho(const std::uint8_t* bytes, std::uint32_t count) override
    {
        wire.append(reinterpret_cast<const char*>(bytes), count);
    }
    void writeResponse(int rule, const std::uint8_t* bytes, std::uint32_t count) override
    {
        wire += '<' + QByteArray::number(rule);
        wire.append(reinterpret_cast<const char*>(bytes), count);
        wire += '>';
    }
    void responseCounted(int rule, std::uint32_t count) override
    {
        counts += QStringLiteral("%1:%2 ").arg(rule).arg(count);
    }
    void logFailed(const QString&, const QString& reason) override { logFailure = reason; }

    void appendData(const QString& text) override
    {
        if (--failAfter == 0)
            throw std::bad_alloc();
        shown += text;
    }
    void appendMonitor(const QString& text) override { shown += u'{' + text + u'}'; }
    void appendLineBreak() override { shown += u'|'; }
    bool isEmpty() const override { return shown.isEmpty(); }
    void limitRows(std::uint32_t) override {}
    void scrollToEnd() override {}
    void batchEnded() override {}

    QByteArray wire;
    QString shown;
    QString counts;
    QString logFailure;
    int failAfter = -1; // appendData calls until one throws; never when negative
};

// Rules that overlap and follow each other, CR as the new-line character, echo and log on.
void setUp(kirt::ReceivePipeline& pipeline, const QString& logPath, bool rulesOn = true)
{
    kirt::ReceiveSettings& s = pipeline.settings();
    s.echo = true;
    s.newLineEnabled = true;
    s.newLineChar = 0x0D;
    s.format = kirt::DataFormat::Hex;
    const std::pair<const char*, const char*> rules[] = {
        {"0102", "A"}, {"0203", "B"}, {"0D", ""}, {"0102030D", "D"}};
    for (int n = 1; n <= 4; ++n) {
        pipeline.rule(n).parse(QString::fromLatin1(rules[n - 1].first));
        pipeline.setRuleResponse(n, rules[n - 1].second);
        pipeline.setRuleEnabled(n, rulesOn);
    }
    QVERIFY(pipeline.log().start(logPath));
    s.logging = true;
}

// One hand-over, as the receive thread runs it; source 1 is a monitor port's.
void handOver(kirt::ReceivePipeline& pipeline, const QByteArray& chunk, bool byteSteps,
              std::uint8_t source = 0)
{
    pipeline.RxHandOverBegins();
    pipeline.storeChunk(reinterpret_cast<const std::uint8_t*>(chunk.constData()),
                        static_cast<std::uint32_t>(chunk.size()), kirt::ReadTime::now(), source);
    const auto steps = static_cast<std::uint32_t>(chunk.size());
    if (byteSteps)
        for (std::uint32_t i = 0; i < steps; ++i)
            pipeline.RxDisplayStep();
    else
        pipeline.RxDisplaySteps(steps);
    pipeline.RxDisplayStepsDone();
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestReceivePipeline : public QObject
{
    Q_OBJECT

private slots:
    void batchesGiveWhatStepsGiveAtEveryOffset();
    void failedAllocationDropsTheBatchAndStopsTheLog();
    void monitorBytesAreShownAndLoggedButNeverAnswered();
};

void TestReceivePipeline::batchesGiveWhatStepsGiveAtEveryOffset()
{
    const QByteArray stream("x\x01\x02\x03\x0D\x01\x01\x02\x03\x0Dy\x02\x03\x0D\x0D\x01\x02", 17);
    // With the rules on every byte may bring an answer; with them off the text goes in runs.
    for (const bool rules : {true, false}) {
        QTemporaryDir dir;
        Recorder reference;
        kirt::ReceivePipeline stepwise(&reference, reference);
        setUp(stepwise, dir.filePath(QStringLiteral("steps.log")), rules);
        for (const char byte : stream)
            handOver(stepwise, QByteArray(1, byte), true);
        QVERIFY(reference.wire.startsWith(rules ? QByteArray("x\x01\x02<1A>\x03<2B>\x0D<4D>")
                                                : stream));
        QCOMPARE(reference.shown.count(u'|'), 4); // a break before each 0D

        for (qsizetype split = 0; split <= stream.size(); ++split) {
            for (qsizetype second = split; second <= stream.size(); ++second) {
                Recorder batch;
                kirt::ReceivePipeline pipeline(&batch, batch);
                const QString log = dir.filePath(QStringLiteral("batch.log"));
                setUp(pipeline, log, rules);
                handOver(pipeline, stream.left(split), false);
                handOver(pipeline, stream.mid(split, second - split), false);
                handOver(pipeline, stream.mid(second), false);
                const QString at = QStringLiteral("split at %1 and %2").arg(split).arg(second);
                QVERIFY2(batch.wire == reference.wire, qPrintable(at));
                QVERIFY2(batch.shown == reference.shown, qPrintable(at));
                QVERIFY2(batch.counts == reference.counts, qPrintable(at));
                QVERIFY2(contents(log) == contents(dir.filePath(QStringLiteral("steps.log"))),
                         qPrintable(at));
            }
        }
    }
}

void TestReceivePipeline::failedAllocationDropsTheBatchAndStopsTheLog()
{
    QTemporaryDir dir;
    Recorder out;
    kirt::ReceivePipeline pipeline(&out, out);
    setUp(pipeline, dir.filePath(QStringLiteral("log")));
    out.failAfter = 1;
    handOver(pipeline, QByteArray("\x05\x06\x07", 3), false);
    QVERIFY(!pipeline.RxPending());
    QVERIFY(!pipeline.settings().logging);
    QCOMPARE(out.logFailure, QStringLiteral("Out of memory."));

    // The next batch is received as ever.
    handOver(pipeline, QByteArray("\x08", 1), false);
    QCOMPARE(out.shown, QStringLiteral("08 "));
    QVERIFY(out.wire.endsWith('\x08'));
}

void TestReceivePipeline::monitorBytesAreShownAndLoggedButNeverAnswered()
{
    QTemporaryDir dir;
    Recorder out;
    kirt::ReceivePipeline pipeline(&out, out);
    const QString log = dir.filePath(QStringLiteral("merged.log"));
    setUp(pipeline, log);
    pipeline.settings().rowNames = {QStringLiteral("COM1> "), QStringLiteral("COM2> ")};
    for (const bool byteSteps : {false, true}) {
        out.wire.clear();
        out.shown.clear();
        handOver(pipeline, "\x01\x02", byteSteps);
        handOver(pipeline, "\x01\x02\x03\x0D", byteSteps, 1);
        handOver(pipeline, "\x03", byteSteps);
        // The rules and the echo see the port's bytes alone: 02 then 03 still make "0203".
        QCOMPARE(out.wire, QByteArray("\x01\x02<1A>\x03<2B>"));
        // A change of port starts a row, and the monitor's new-line character its own; the
        // second round goes on with the port's row the first left open.
        const QString rows = (byteSteps ? QString() : QStringLiteral("COM1> ")) +
                             QStringLiteral("01 02 |{COM2> 01 02 03 }|{COM2> 0D }|COM1> 03 ");
        // Step by step the monitor's text comes a byte at a time, in the same colour.
        QCOMPARE(out.shown.replace(QStringLiteral("}{"), QString()), rows);
    }
    pipeline.stopLog();
    QVERIFY(contents(log).endsWith("COM2> 01 02 03 \r\nCOM2> 0D \r\nCOM1> 03 \r\n"));
}

QTEST_GUILESS_MAIN(TestReceivePipeline)
#include "tst_receivepipeline.moc"
