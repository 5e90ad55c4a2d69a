// Workbench files through the window: what one window saves, a fresh one brings back and uses.
#include "tests/support/usersteps.h"
#include "tests/support/windowfixture.h"
#include "transmit/autotransmit.h"
#include "ui/datalineedit.h"

#include <QComboBox>
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
    QTest::newRow("unreadable") << QByteArray() << "cannot be read";
    QTest::newRow("not a workbench") << QByteArray("[Kirt]\nColor=1\n") << "not a workbench";
    QTest::newRow("newer") << QByteArray("[Workbench]\nVersion=7\n") << "newer version";
    QTest::newRow("out of range") << QByteArray("[Workbench]\nVersion=1\nAutoIntervalTime=99\n")
                                  << "out of range";
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

QTEST_MAIN(TestWorkbenchWindow)
#include "tst_workbench.moc"
