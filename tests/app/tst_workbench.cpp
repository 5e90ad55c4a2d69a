// Workbench files through the window: what one window saves, a fresh one brings back and uses.
#include "tests/support/columns.h"
#include "tests/support/usersteps.h"
#include "tests/support/windowfixture.h"
#include "transmit/autotransmit.h"
#include "ui/datalineedit.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QSlider>
#include <QTimer>
#include <QtTest>

using kirt::test::transmitEdit;
using kirt::test::WindowFixture;
using Device = WindowFixture::Device;

namespace {

int box(WindowFixture& f, const QString& name, int n)
{
    return f.find<QComboBox>(name + QString::number(n))->currentIndex();
}

// Every byte a one-line ASC field can hold: all but zero (the end of the text) and the line
// breaks (which end a line).
QString everyLineByte()
{
    QString text;
    for (int b = 1; b < 256; ++b)
        if (b != 0x0A && b != 0x0D)
            text += QChar(b);
    return text;
}

} // namespace

class TestWorkbenchWindow : public QObject
{
    Q_OBJECT

private slots:
    void savedBenchComesBackAndWorks();
    void refusedFileChangesNothing_data();
    void refusedFileChangesNothing();
    void openingStopsAutoTransmit();
    void portTravelsWithTheWorkbench();
    void linesAreKeptBetweenRunsWhenAsked();
};

void TestWorkbenchWindow::savedBenchComesBackAndWorks()
{
    WindowFixture f(Device::Pty);
    const QString path = f.file(QStringLiteral("bench.kirt"));
    for (int n = 1; n <= 9; ++n) {
        f.choose(QStringLiteral("TransmitFormatComboBox%1").arg(n), n % 2);
        transmitEdit(f, n)->setPlainText(
            n % 2 ? (n == 1 ? everyLineByte() : QStringLiteral("line %1").arg(n))
                  : QStringLiteral("%1A").arg(n));
        f.choose(QStringLiteral("TransmitAutoComboBox%1").arg(n), n < 4 ? 1 : 0);
        f.choose(QStringLiteral("CRLFComboBox%1").arg(n), n == 2 ? 1 : 0);
    }
    f.choose("ProtocolFormatComboBox2", 1);
    f.find<kirt::DataLineEdit>("RxEdit2")->setPlainText(QStringLiteral("go"));
    f.find<kirt::DataLineEdit>("TxEdit2")->setPlainText(QStringLiteral("ok\x01"));
    f.choose("ProtocolEnableComboBox2", 1);
    f.find<kirt::DataLineEdit>("RxEdit3")->setPlainText(QStringLiteral("AABB"));
    f.find<kirt::DataLineEdit>("TxEdit3")->setPlainText(QStringLiteral("55"));
    f.choose("ProtocolEnableComboBox3", 0); // a rule kept but off stays off
    f.find<QSlider>("TrackBar1")->setValue(9);
    f.answers.paths.push_back(path);
    f.triggerAction("WorkbenchSave");
    QCOMPARE(f.answers.suffixes, QStringList{"kirt"});

    f.destroyWindow();
    f.answers.paths.push_back(path);
    f.triggerAction("WorkbenchOpen");
    QVERIFY2(f.answers.errors.isEmpty(), qPrintable(f.answers.details.join(u'|')));
    for (int n = 1; n <= 9; ++n) {
        QCOMPARE(box(f, "TransmitFormatComboBox", n), n % 2);
        QCOMPARE(f.window().transmitLineFormat(n), kirt::dataFormatFromIndex(n % 2));
        QCOMPARE(transmitEdit(f, n)->fieldText(),
                 n % 2 ? (n == 1 ? everyLineByte() : QStringLiteral("line %1").arg(n))
                       : QStringLiteral("%1A").arg(n));
        QCOMPARE(box(f, "TransmitAutoComboBox", n), n < 4 ? 1 : 0);
        QCOMPARE(box(f, "CRLFComboBox", n), n == 2 ? 1 : 0);
    }
    QCOMPARE(box(f, "ProtocolFormatComboBox", 2), 1);
    QCOMPARE(box(f, "ProtocolEnableComboBox", 2), 1);
    QCOMPARE(box(f, "ProtocolEnableComboBox", 3), 0);
    QCOMPARE(f.find<kirt::DataLineEdit>("TxEdit3")->fieldText(), QStringLiteral("55"));
    QCOMPARE(f.find<QSlider>("TrackBar1")->value(), 9);
    QCOMPARE(f.window().autoIntervalMs(), kirt::autoIntervalMs(9));

    // It sends and answers as the saved window did.
    QVERIFY(f.openPort());
    f.click("BitBtn9");
    QCOMPARE(f.device().receive(253), everyLineByte().toLatin1());
    f.click("BitBtn10");
    QCOMPARE(f.device().receive(3), QByteArray("\x2A\r\n"));
    f.device().send("go");
    QCOMPARE(f.device().receive(3), QByteArray("ok\x01"));
    f.device().send("\xAA\xBB");
    QCOMPARE(f.device().receive(1, 300), QByteArray());
}

void TestWorkbenchWindow::refusedFileChangesNothing_data()
{
    QTest::addColumn<QByteArray>("contents"); // empty: the path is a folder
    QTest::addColumn<QString>("reason");
    kirt::test::row("unreadable", QByteArray(), "cannot be read");
    kirt::test::row("not a workbench", QByteArray("[Kirt]\nColor=1\n"), "not a workbench");
    kirt::test::row("newer", QByteArray("[Workbench]\nVersion=7\n"), "newer version");
    kirt::test::row("out of range", QByteArray("[Workbench]\nVersion=1\nAutoIntervalTime=99\n"),
                    "out of range");
}

void TestWorkbenchWindow::refusedFileChangesNothing()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, reason);
    WindowFixture f;
    f.choose("TransmitFormatComboBox4", 1);
    transmitEdit(f, 4)->setPlainText(QStringLiteral("kept"));
    f.find<kirt::DataLineEdit>("RxEdit1")->setPlainText(QStringLiteral("0102"));
    f.choose("ProtocolEnableComboBox1", 1);
    const QString path =
        contents.isEmpty() ? f.file(QString()) : f.fileWith(QStringLiteral("bad.kirt"), contents);
    f.answers.paths.push_back(path);
    f.triggerAction("WorkbenchOpen");
    QCOMPARE(f.answers.errors.size(), 1);
    QVERIFY2(f.answers.errors[0].contains(path), qPrintable(f.answers.errors[0]));
    QVERIFY2(f.answers.details[0].contains(reason), qPrintable(f.answers.details[0]));
    QCOMPARE(transmitEdit(f, 4)->fieldText(), QStringLiteral("kept"));
    QCOMPARE(box(f, "TransmitFormatComboBox", 4), 1);
    QCOMPARE(box(f, "ProtocolEnableComboBox", 1), 1);
    QCOMPARE(f.window().protocolRule(1).length(), 2U);
}

void TestWorkbenchWindow::openingStopsAutoTransmit()
{
    WindowFixture f(Device::Pty);
    const QString path = f.file(QStringLiteral("empty.kirt"));
    f.answers.paths.push_back(path);
    f.triggerAction("WorkbenchSave");
    transmitEdit(f, 1)->setPlainText(QStringLiteral("01"));
    f.choose("TransmitAutoComboBox1", 1);
    QVERIFY(f.openPort());
    f.click("SendStartBtn");
    QVERIFY(f.find<QTimer>("AutoTransIntervalTimer")->isActive());
    f.answers.paths.push_back(path);
    f.triggerAction("WorkbenchOpen");
    QVERIFY(!f.find<QTimer>("AutoTransIntervalTimer")->isActive());
    QCOMPARE(transmitEdit(f, 1)->fieldText(), QString());
}

void TestWorkbenchWindow::portTravelsWithTheWorkbench()
{
    WindowFixture f;
    f.choose("SerialPortComboBox", 4);
    f.answers.integers.push_back(250000);
    f.choose("BaudRateComboBox", kirt::CustomBaudIndex);
    f.choose("DataBitsComboBox", 3);
    f.choose("StopBitsComboBox", 2);
    f.choose("ParityBitsComboBox", 2);
    f.choose("FlowControlComboBox", 1);
    f.click("DTRButton");
    const kirt::ComSettings saved = f.window().comSettings();
    const QString path = f.file(QStringLiteral("port.kirt"));
    f.answers.paths.push_back(path);
    f.triggerAction("WorkbenchSave");

    // A first run elsewhere takes the port as the file has it.
    f.destroyWindow();
    QVERIFY(!f.settings.exists()); // nothing stored: the next window is a first run
    f.answers.paths.push_back(path);
    f.triggerAction("WorkbenchOpen");
    QVERIFY2(f.answers.errors.isEmpty(), qPrintable(f.answers.details.join(u'|')));
    const kirt::ComSettings opened = f.window().comSettings();
    QCOMPARE(opened.portName, QStringLiteral("COM5"));
    QCOMPARE(opened.baudRate, 250000u);
    QCOMPARE(opened.dataBits, saved.dataBits);
    QCOMPARE(opened.stopBits, saved.stopBits);
    QCOMPARE(opened.parity, saved.parity);
    QCOMPARE(opened.flowControl, kirt::FlowControl::Hardware);
    QCOMPARE(f.find<QComboBox>("BaudRateComboBox")->currentText(),
             QStringLiteral("Custom (250000)"));
    QVERIFY(f.find<QAbstractButton>("DTRButton")->isChecked());
    QVERIFY(!f.find<QAbstractButton>("RTSButton")->isChecked());

    // A file without the port leaves it alone.
    const QString plain = f.file(QStringLiteral("plain.kirt"));
    QVERIFY(kirt::writeWorkbench(plain, kirt::Workbench{}));
    f.answers.paths.push_back(plain);
    f.triggerAction("WorkbenchOpen");
    QVERIFY(f.window().comSettings() == opened);
    QVERIFY(f.find<QAbstractButton>("DTRButton")->isChecked());
}

void TestWorkbenchWindow::linesAreKeptBetweenRunsWhenAsked()
{
    WindowFixture f;
    const QString kept = QFileInfo(f.settings.settingsFile()).absolutePath() + "/last.kirt";
    f.triggerAction("KeepWorkbenchAction");
    transmitEdit(f, 1)->setPlainText(QStringLiteral("0102"));
    f.find<kirt::DataLineEdit>("RxEdit4")->setPlainText(QStringLiteral("AA"));
    QVERIFY(f.window().close());
    QVERIFY(QFile::exists(kept));
    QVERIFY(f.settings.read().contains("KeepWorkbench=1\n"));

    f.destroyWindow();
    QCOMPARE(transmitEdit(f, 1)->fieldText(), QStringLiteral("0102"));
    QCOMPARE(f.find<kirt::DataLineEdit>("RxEdit4")->fieldText(), QStringLiteral("AA"));
    QVERIFY(f.window().findChild<QAction*>("KeepWorkbenchAction")->isChecked());

    // Unchecked: the next start empties the lines as it always did.
    f.triggerAction("KeepWorkbenchAction");
    QVERIFY(f.window().close());
    f.destroyWindow();
    QCOMPARE(transmitEdit(f, 1)->fieldText(), QString());

    // A kept file that is refused is reported once and left for the user.
    f.triggerAction("KeepWorkbenchAction");
    QVERIFY(f.window().close());
    f.destroyWindow();
    QFile broken(kept);
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("[Workbench]\nVersion=1\n");
    broken.close();
    f.window();
    QCOMPARE(f.answers.errors.size(), 1);
    QVERIFY(QFile::exists(kept));
}

QTEST_MAIN(TestWorkbenchWindow)
#include "tst_workbench.moc"
