// File transfers through the window's File menu, against lrzsz as the board: the items follow
// the port, the progress dialog comes and goes, and the line at the end is in the display.
#include "tests/support/lrzszpeer.h"
#include "tests/support/windowfixture.h"
#include "ui/receivedisplay.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QtTest>

using kirt::PtyDevice;
using kirt::test::WindowFixture;

class TestTransfer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!kirt::test::LrzszPeer::installed())
            QFAIL("lrzsz is not installed: tools/kirt-dev test installs it");
    }

    // YMODEM by the menu to rb, two files chosen at once; 1K XMODEM blocks chosen and kept.
    void sendByTheMenu()
    {
        WindowFixture f(WindowFixture::Device::Pty);
        f.showWithDisplayFormat(1);
        const QStringList items{"SendXmodemAction",    "SendYmodemAction",
                                "SendZmodemAction",    "ReceiveXmodemAction",
                                "ReceiveYmodemAction", "ReceiveZmodemAction"};
        for (const QString& name : items)
            QVERIFY2(!f.find<QAction>(name)->isEnabled(), qPrintable(name));
        f.choose("XmodemBlockComboBox", 1);
        QVERIFY(f.openPort());
        for (const QString& name : items)
            QVERIFY2(f.find<QAction>(name)->isEnabled(), qPrintable(name));

        QTemporaryDir board;
        kirt::test::LrzszPeer rb;
        QVERIFY(rb.start(f.device().masterFd(), "rb", {}, board.path()));
        const QByteArray a(3000, 'a'), b(100, 'b');
        f.answers.paths.push_back(f.fileWith("a.bin", a) + '\n' + f.fileWith("b.bin", b));
        f.triggerAction("SendYmodemAction");
        QVERIFY(f.window().findChild<QDialog*>("TransferDialog"));
        // While it runs the port is the transfer's: no second one.
        QVERIFY(!f.find<QAction>("SendXmodemAction")->isEnabled());
        QVERIFY2(
            PtyDevice::waitUntil(
                [&f] { return f.display()->displayText().contains("YMODEM: sent a.bin, b.bin"); },
                30000),
            qPrintable(f.display()->displayText() + rb.report()));
        QVERIFY(rb.waitForEnd());
        QFile got(board.filePath("a.bin"));
        QVERIFY(got.open(QIODevice::ReadOnly));
        QCOMPARE(got.readAll(), a);
        QVERIFY(f.find<QAction>("SendXmodemAction")->isEnabled());
        QVERIFY(PtyDevice::waitUntil(
            [&f] { return !f.window().findChild<QDialog*>("TransferDialog"); }, 5000));

        f.window().close();
        f.destroyWindow();
        QCOMPARE(f.find<QComboBox>("XmodemBlockComboBox")->currentIndex(), 1);
    }

    // A board that starts sz is answered with the question, and the files come into the
    // folder chosen.
    void zmodemStartIsAsked()
    {
        WindowFixture f(WindowFixture::Device::Pty);
        f.showWithDisplayFormat(1);
        QVERIFY(f.openPort());
        QTemporaryDir board, into;
        const QByteArray image(5000, 'z');
        QFile file(board.filePath("fw.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
        file.close();
        f.answers.answers.push_back(true);
        f.answers.paths.push_back(into.path());
        kirt::test::LrzszPeer sz;
        QVERIFY(sz.start(f.device().masterFd(), "sz", {"fw.bin"}, board.path()));
        QVERIFY2(
            PtyDevice::waitUntil(
                [&f] { return f.display()->displayText().contains("ZMODEM: received fw.bin"); },
                30000),
            qPrintable(f.display()->displayText() + sz.report()));
        QCOMPARE(f.answers.questions.size(), 1);
        QCOMPARE(f.answers.fileDialogs, QStringList{"folder"});
        QFile got(into.filePath("fw.bin"));
        QVERIFY(got.open(QIODevice::ReadOnly));
        QCOMPARE(got.readAll(), image);
    }
};

QTEST_MAIN(TestTransfer)
#include "tst_transfer.moc"
