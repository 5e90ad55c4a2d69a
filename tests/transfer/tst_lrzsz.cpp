// Transfers against lrzsz, the reference, as the board's side: Kirt's port on a pseudo-terminal's
// slave, the program on its master through a relay.
#include "tests/support/lrzszpeer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/ser2netserver.h"
#include "transfer/transferrequest.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace kirt;
using kirt::test::LrzszPeer;

namespace {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator random(seed);
    for (char& byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// One port on a pty, lrzsz on its master, a folder for each side.
struct Rig
{
    PtyDevice device;
    PortController port;
    LrzszPeer peer;
    QTemporaryDir kirtDir;
    QTemporaryDir boardDir;

    bool open(const QString& address = {})
    {
        OpenRequest request;
        request.portName = device.portName();
        request.settings.baudRate = 115200;
        request.settings.portName = request.portName;
        if (!address.isEmpty())
            qputenv("KIRT_COM1", address.toUtf8());
        if (!port.open(request).ok())
            return false;
        port.session().setRxEnabled(true);
        return true;
    }
    bool board(const QString& program, QStringList arguments)
    {
        return peer.start(device.masterFd(), program, arguments, boardDir.path());
    }
    // The reason and what the board's program said.
    QString why(const TransferResult& result)
    {
        return result.reason + QStringLiteral("\n") + peer.report();
    }
    QString kirtFile(const QString& name) const { return kirtDir.filePath(name); }
    QString boardFile(const QString& name) const { return boardDir.filePath(name); }

    // Runs the transfer to its end; during lets a test act on its first progress.
    TransferResult run(TransferRequest request, const std::function<void(Transfer&)>& during = {})
    {
        std::unique_ptr<Transfer> transfer = makeTransfer(port, request);
        std::optional<TransferResult> result;
        bool acted = false;
        QObject::connect(transfer.get(), &Transfer::finished,
                         [&result](const TransferResult& r, const QString&) { result = r; });
        QObject::connect(transfer.get(), &Transfer::progress, [&](const TransferProgress& p) {
            if (during && !acted && p.done > 0) {
                acted = true;
                during(*transfer);
            }
        });
        transfer->start();
        if (!PtyDevice::waitUntil([&result] { return result.has_value(); }, 60000)) {
            TransferResult none;
            none.end = TransferResult::End::Failed;
            none.reason = "no end";
            return none;
        }
        return *result;
    }
};

// Who ends a transfer early.
enum Ender { ByKirt, ByBoard, ByClose };

TransferRequest request(TransferProtocol protocol, TransferDirection direction, QStringList paths)
{
    TransferRequest r;
    r.protocol = protocol;
    r.direction = direction;
    r.paths = paths;
    return r;
}

} // namespace

class TestLrzsz : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!LrzszPeer::installed())
            QFAIL("lrzsz is not installed: tools/kirt-dev test installs it");
    }

    // XMODEM to rx: the sum when rx asks with NAK, the CRC with 'C', 1K blocks when chosen
    // (the padded length tells the block size: 2,500 bytes fill 2,560 in short blocks and
    // 3,072 in long ones).
    void xmodemSend_data()
    {
        QTest::addColumn<QStringList>("rxOptions");
        QTest::addColumn<bool>("longBlocks");
        QTest::addColumn<int>("padded");
        QTest::newRow("checksum") << QStringList{} << false << 2560;
        QTest::newRow("crc") << QStringList{"-c"} << false << 2560;
        QTest::newRow("1K") << QStringList{"-c"} << true << 3072;
        QTest::newRow("1K asked for, checksum given") << QStringList{} << true << 2560;
    }
    void xmodemSend()
    {
        QFETCH(QStringList, rxOptions);
        QFETCH(bool, longBlocks);
        QFETCH(int, padded);
        Rig rig;
        const QByteArray image = randomBytes(2500, 1);
        QVERIFY(writeFile(rig.kirtFile("fw.bin"), image));
        QVERIFY(rig.open());
        QVERIFY(rig.board("rx", rxOptions << "out.bin"));
        TransferRequest r =
            request(TransferProtocol::Xmodem, TransferDirection::Send, {rig.kirtFile("fw.bin")});
        r.longBlocks = longBlocks;
        const TransferResult result = rig.run(r);
        QVERIFY2(result.ok(), qPrintable(rig.why(result)));
        QVERIFY(rig.peer.waitForEnd());
        QCOMPARE(rig.peer.exitCode(), 0);
        const QByteArray written = readAll(rig.boardFile("out.bin"));
        QCOMPARE(written.size(), padded);
        QCOMPARE(written.left(2500), image);
        QCOMPARE(written.mid(2500), QByteArray(padded - 2500, '\x1a'));
        QCOMPARE(result.bytes, 2500u);
        QCOMPARE(result.retries, 0);
    }

    // A batch of three to rb, an empty file among them; and with rb's injected CRC errors.
    void ymodemSend_data()
    {
        QTest::addColumn<QStringList>("rbOptions");
        QTest::newRow("clean") << QStringList{};
        QTest::newRow("with errors") << QStringList{"--errors", "20000"};
    }
    void ymodemSend()
    {
        QFETCH(QStringList, rbOptions);
        Rig rig;
        const QList<QPair<QString, QByteArray>> files{{"boot.img", randomBytes(70001, 2)},
                                                      {"empty.txt", {}},
                                                      {"u-boot.bin", randomBytes(1029, 3)}};
        QStringList paths;
        for (const auto& [name, bytes] : files) {
            QVERIFY(writeFile(rig.kirtFile(name), bytes));
            paths << rig.kirtFile(name);
        }
        QVERIFY(rig.open());
        QVERIFY(rig.board("rb", rbOptions));
        const TransferResult result =
            rig.run(request(TransferProtocol::Ymodem, TransferDirection::Send, paths));
        QVERIFY2(result.ok(), qPrintable(rig.why(result)));
        QVERIFY(rig.peer.waitForEnd());
        for (const auto& [name, bytes] : files)
            QCOMPARE(readAll(rig.boardFile(name)), bytes);
        QCOMPARE(result.bytes, 71030u);
        QCOMPARE(result.retries > 0, !rbOptions.isEmpty());
        QVERIFY(summaryLine(result).startsWith(
            "YMODEM: sent boot.img, empty.txt, u-boot.bin, 71,030 bytes in "));
    }

    // From sx (one file, padded by XMODEM) and sb (a batch, cut to size), clean and with
    // bytes broken on the way.
    void receive_data()
    {
        QTest::addColumn<bool>("ymodem");
        QTest::addColumn<int>("corrupt");
        QTest::newRow("sx") << false << 0;
        QTest::newRow("sb") << true << 0;
        QTest::newRow("sx, broken bytes") << false << 7;
        QTest::newRow("sb, broken bytes") << true << 7;
    }
    void receive()
    {
        QFETCH(bool, ymodem);
        QFETCH(int, corrupt);
        Rig rig;
        const QByteArray a = randomBytes(30000, 4), b = randomBytes(300, 5);
        QVERIFY(writeFile(rig.boardFile("a.bin"), a));
        QVERIFY(writeFile(rig.boardFile("b.bin"), b));
        QVERIFY(rig.open());
        rig.peer.corruptEvery(corrupt);
        QVERIFY(ymodem ? rig.board("sb", {"a.bin", "b.bin"}) : rig.board("sx", {"a.bin"}));
        const TransferResult result =
            rig.run(ymodem ? request(TransferProtocol::Ymodem, TransferDirection::Receive,
                                     {rig.kirtDir.path()})
                           : request(TransferProtocol::Xmodem, TransferDirection::Receive,
                                     {rig.kirtFile("got.bin")}));
        QVERIFY2(result.ok(), qPrintable(rig.why(result)));
        QCOMPARE(result.retries > 0, corrupt > 0);
        if (ymodem) {
            QCOMPARE(readAll(rig.kirtFile("a.bin")), a);
            QCOMPARE(readAll(rig.kirtFile("b.bin")), b);
            QCOMPARE(result.bytes, 30300u);
        } else {
            const QByteArray got = readAll(rig.kirtFile("got.bin"));
            QCOMPARE(got.left(a.size()), a);
            QCOMPARE(got.size(), 30080); // whole blocks
        }
        // Nothing but the files: no part file left.
        QCOMPARE(QDir(rig.kirtDir.path()).entryList(QDir::Files).size(), ymodem ? 2 : 1);
    }

    // Cancel from Kirt's side and from the board's, both ways: the other side stops too, and a
    // receive leaves no part file. A port closed under a receive ends it with the reason.
    void cancel_data()
    {
        QTest::addColumn<bool>("send");
        QTest::addColumn<int>("ender");
        QTest::newRow("send, Kirt cancels") << true << int(ByKirt);
        QTest::newRow("send, rb cancels") << true << int(ByBoard);
        QTest::newRow("receive, Kirt cancels") << false << int(ByKirt);
        QTest::newRow("receive, sb cancels") << false << int(ByBoard);
        QTest::newRow("receive, port closed") << false << int(ByClose);
    }
    void cancel()
    {
        QFETCH(bool, send);
        QFETCH(int, ender);
        Rig rig;
        const QByteArray big = randomBytes(4 << 20, 6);
        QVERIFY(writeFile(send ? rig.kirtFile("big.bin") : rig.boardFile("big.bin"), big));
        QVERIFY(rig.open());
        QVERIFY(send ? rig.board("rb", {"-vv"}) : rig.board("sb", {"big.bin"}));
        QElapsedTimer clock;
        const TransferResult result =
            rig.run(send ? request(TransferProtocol::Ymodem, TransferDirection::Send,
                                   {rig.kirtFile("big.bin")})
                         : request(TransferProtocol::Ymodem, TransferDirection::Receive,
                                   {rig.kirtDir.path()}),
                    [&](Transfer& transfer) {
                        clock.start();
                        if (ender == ByKirt)
                            transfer.cancel();
                        else if (ender == ByBoard)
                            rig.peer.terminate();
                        else
                            rig.port.close();
                    });
        // Promptly, not after a protocol's time-out of 10 s.
        QVERIFY(clock.isValid());
        QVERIFY2(clock.elapsed() < 5000, qPrintable(result.reason));
        QCOMPARE(result.end,
                 ender == ByKirt ? TransferResult::End::Cancelled : TransferResult::End::Failed);
        if (ender == ByBoard)
            QCOMPARE(result.reason,
                     send ? QString("the receiver cancelled") : QString("the sender cancelled"));
        if (ender == ByClose) {
            QCOMPARE(result.reason, QString("the port was closed"));
        } else {
            QVERIFY2(rig.peer.waitForEnd(15000), qPrintable(rig.why(result)));
            QVERIFY(rig.peer.exitCode() != 0);
        }
        if (!send)
            QVERIFY(QDir(rig.kirtDir.path()).entryList(QDir::Files).isEmpty());
        // The port is everybody's again.
        QVERIFY(!rig.port.claimed());
    }

    void zmodem_data()
    {
        QTest::addColumn<bool>("send");
        QTest::newRow("sz to the board") << true;
        QTest::newRow("rz from the board") << false;
    }
    void zmodem()
    {
        QFETCH(bool, send);
        Rig rig;
        const QByteArray image = randomBytes(200000, 7);
        QVERIFY(writeFile(send ? rig.kirtFile("fw.bin") : rig.boardFile("fw.bin"), image));
        QVERIFY(rig.open());
        QVERIFY(send ? rig.board("rz", {}) : rig.board("sz", {"fw.bin"}));
        const TransferResult result = rig.run(request(
            TransferProtocol::Zmodem, send ? TransferDirection::Send : TransferDirection::Receive,
            {send ? rig.kirtFile("fw.bin") : rig.kirtDir.path()}));
        QVERIFY2(result.ok(), qPrintable(rig.why(result)));
        QVERIFY(rig.peer.waitForEnd());
        QCOMPARE(readAll(send ? rig.boardFile("fw.bin") : rig.kirtFile("fw.bin")), image);
        QCOMPARE(result.bytes, 200000u);
        QCOMPARE(result.files.value(0).name, QString("fw.bin"));
    }

    // Over the network through ser2net: every 255 in the data doubled on the wire and undone.
    void overRfc2217()
    {
        Rig rig;
        test::Ser2netServer server;
        QString error;
        if (!server.start(rig.device.slavePath(), true, error))
            QSKIP(qPrintable(error));
        const QByteArray image = randomBytes(20000, 8) + QByteArray(2048, '\xff');
        QVERIFY(writeFile(rig.kirtFile("fw.bin"), image));
        QVERIFY(rig.open(server.address()));
        QVERIFY(rig.board("rb", {}));
        const TransferResult result = rig.run(
            request(TransferProtocol::Ymodem, TransferDirection::Send, {rig.kirtFile("fw.bin")}));
        QVERIFY2(result.ok(), qPrintable(rig.why(result)));
        QVERIFY(rig.peer.waitForEnd());
        QCOMPARE(readAll(rig.boardFile("fw.bin")), image);
    }
};

QTEST_GUILESS_MAIN(TestLrzsz)
#include "tst_lrzsz.moc"
