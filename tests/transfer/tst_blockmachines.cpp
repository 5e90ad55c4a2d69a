// The XMODEM and YMODEM machines fed by hand: what a real peer rarely sends.
#include "transfer/blockreceiver.h"
#include "transfer/blocksender.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace kirt;
using namespace kirt::xmodem;

namespace {

QByteArray feed(TransferMachine& machine, const QByteArray& bytes, TransferMachine::Ms now = 0)
{
    machine.received(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                     static_cast<std::size_t>(bytes.size()), now);
    return machine.takeOutput();
}

QByteArray block(std::uint8_t number, const QByteArray& data, char pad = char(SUB))
{
    QByteArray out;
    appendBlock(out, number, data.constData(), static_cast<std::size_t>(data.size()), ShortBlock,
                true, pad);
    return out;
}

QByteArray header(const QByteArray& nameAndFields)
{
    return block(0, nameAndFields, '\0');
}

const QByteArray Ack(1, char(ACK));
const QByteArray Nak(1, char(NAK));
const QByteArray Eot(1, char(EOT));
const QByteArray AckAsk = QByteArray(1, char(ACK)) + 'C';

struct FullDisk final : ReceiveTarget
{
    bool aborted = false;
    bool begin(const QString&, std::optional<std::int64_t>, QString&) override { return true; }
    QString name() const override { return QStringLiteral("fw.bin"); }
    bool write(const char*, std::size_t, QString& error) override
    {
        error = QStringLiteral("cannot write fw.bin: No space left on device");
        return false;
    }
    bool finish(QString&) override { return true; }
    void abort() override { aborted = true; }
};

} // namespace

class TestBlockMachines : public QObject
{
    Q_OBJECT

private slots:
    // A YMODEM name is written under its last part, cleaned, inside the folder, never over a
    // file that is there; the file is cut to its sent size.
    void receivedNames_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("written");
        QTest::newRow("plain") << QByteArray("fw.bin") << "fw.bin";
        QTest::newRow("folders") << QByteArray("boards/rev2/fw.bin") << "fw.bin";
        QTest::newRow("up") << QByteArray("../../passwd") << "passwd";
        QTest::newRow("absolute") << QByteArray("/etc/shadow") << "shadow";
        QTest::newRow("backslashes") << QByteArray("..\\..\\boot.ini") << "boot.ini";
        QTest::newRow("control") << QByteArray("a\x01\x1b[2Jb.bin") << "a[2Jb.bin";
        QTest::newRow("only up") << QByteArray("dir/..") << "received";
        QTest::newRow("exists") << QByteArray("old.bin") << "old (1).bin";
    }
    void receivedNames()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QString, written);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkdir("in"));
        const QString folder = root.filePath("in");
        QFile old(folder + "/old.bin");
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("keep") == 4);
        old.close();

        FolderReceiveTarget target(folder);
        BlockReceiver machine(TransferProtocol::Ymodem, target);
        machine.start(0);
        QCOMPARE(machine.takeOutput(), QByteArray("C"));
        QCOMPARE(feed(machine, header(sent + QByteArray("\0"
                                                        "5 0",
                                                        4))),
                 AckAsk);
        QCOMPARE(feed(machine, block(1, "hello world")), Ack);
        QCOMPARE(feed(machine, Eot), Nak);
        QCOMPARE(feed(machine, Eot), AckAsk);
        QCOMPARE(feed(machine, header({})), Ack);
        QVERIFY(machine.finished());
        QVERIFY2(machine.result().ok(), qPrintable(machine.result().reason));

        QFile file(QDir(folder).filePath(written));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("hello"));
        QCOMPARE(machine.result().files.value(0).name, written);
        QCOMPARE(machine.result().files.value(0).sentAs,
                 written == QString::fromLatin1(sent) ? QString() : QString::fromLatin1(sent));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);
        QCOMPARE(QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"in"});
    }

    // Refused and broken input ends the receive with CAN and leaves no part file.
    void receiveRefusals()
    {
        QTemporaryDir folder;
        {
            FolderReceiveTarget target(folder.path());
            BlockReceiver machine(TransferProtocol::Ymodem, target);
            machine.start(0);
            machine.takeOutput();
            const QByteArray out = feed(machine, header(QByteArray("fw.bin\0"
                                                                   "12k 0",
                                                                   12)));
            QVERIFY(out.startsWith("\x18\x18"));
            QVERIFY(machine.finished());
            QVERIFY(machine.result().reason.contains("not a number"));
        }
        {
            FolderReceiveTarget target(folder.path());
            BlockReceiver machine(TransferProtocol::Ymodem, target);
            machine.start(0);
            machine.takeOutput();
            QCOMPARE(feed(machine, header(QByteArray("fw.bin\0"
                                                     "300",
                                                     10))),
                     AckAsk);
            QCOMPARE(feed(machine, block(1, "a")), Ack);
            // The same block again (the ACK was lost): acknowledged, not written twice.
            QCOMPARE(feed(machine, block(1, "a")), Ack);
            QCOMPARE(machine.result().retries, 1);
            QCOMPARE(machine.progress().fileDone, 128);
            QVERIFY(feed(machine, block(3, "c")).startsWith("\x18\x18"));
            QVERIFY(machine.result().reason.contains("out of step"));
        }
        QVERIFY(QDir(folder.path()).entryList(QDir::Files).isEmpty());

        FullDisk disk;
        BlockReceiver machine(TransferProtocol::Xmodem, disk);
        machine.start(0);
        machine.takeOutput();
        QVERIFY(feed(machine, block(1, "a")).startsWith("\x18\x18"));
        QVERIFY(disk.aborted);
        QCOMPARE(machine.result().reason, QString("cannot write fw.bin: No space left on device"));
    }

    // 'C' three times, then NAK for the sum; nothing at all ends the receive.
    void receiverAsks()
    {
        FullDisk target;
        TransferMachine::Timing timing;
        timing.noPeer = 12000;
        BlockReceiver machine(TransferProtocol::Xmodem, target, timing);
        machine.start(0);
        QByteArray asks = machine.takeOutput();
        for (TransferMachine::Ms t = 1000; t <= 12000; t += 1000) {
            machine.tick(t);
            asks += machine.takeOutput();
        }
        QCOMPARE(asks, QByteArray("CCC\x15"));
        QVERIFY(machine.finished());
        QVERIFY(machine.result().reason.startsWith("no sender"));
    }

    // A block refused ten times ends the send, and the block number stays while it is
    // refused; CAN CAN from the receiver ends it too, one CAN alone does not.
    void senderRefusals()
    {
        const auto sender = [](const TransferMachine::Timing& timing = {}) {
            std::vector<SendFile> files(1);
            files[0].name = "fw.bin";
            files[0].size = 300;
            files[0].data = std::make_unique<QBuffer>();
            auto* buffer = static_cast<QBuffer*>(files[0].data.get());
            buffer->setData(QByteArray(300, 'x'));
            buffer->open(QIODevice::ReadOnly);
            return std::make_unique<BlockSender>(TransferProtocol::Xmodem, std::move(files), false,
                                                 timing);
        };
        auto machine = sender();
        machine->start(0);
        const QByteArray first = feed(*machine, "C");
        QCOMPARE(first, block(1, QByteArray(128, 'x')));
        for (int refusal = 1; refusal < 10; ++refusal)
            QCOMPARE(feed(*machine, Nak), first);
        QVERIFY(feed(*machine, Nak).startsWith("\x18\x18"));
        QCOMPARE(machine->result().reason, QString("block 1 refused 10 times"));
        QCOMPARE(machine->result().retries, 9);

        machine = sender();
        machine->start(0);
        feed(*machine, Nak);
        QCOMPARE(feed(*machine, QByteArray("\x18") + Ack).at(2), char(0xFD));
        QVERIFY(!machine->finished());
        feed(*machine, "\x18\x18");
        QCOMPARE(machine->result().reason, QString("the receiver cancelled"));

        TransferMachine::Timing quick;
        quick.noPeer = 50;
        machine = sender(quick);
        machine->start(0);
        machine->tick(49);
        QVERIFY(!machine->finished());
        machine->tick(50);
        QCOMPARE(machine->result().reason, QString("no receiver: no NAK or 'C' within 0.05 s"));
    }
};

QTEST_GUILESS_MAIN(TestBlockMachines)
#include "tst_blockmachines.moc"
