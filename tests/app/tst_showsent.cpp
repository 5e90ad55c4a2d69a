// Sent data in the receive display: in order with received text, in a colour of its own, and
// nowhere else (log, rules).
#include "tests/support/usersteps.h"
#include "tests/support/windowfixture.h"
#include "ui/datalineedit.h"
#include "ui/receivedisplay.h"

#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTextBlock>
#include <QtTest>

using kirt::PtyDevice;
using kirt::test::enableRule;
using kirt::test::WindowFixture;
using Device = WindowFixture::Device;

namespace {

constexpr int Asc = 1;

// The display's characters in runs, each run marked "S:" when shown as sent, "R:" otherwise.
QStringList runs(kirt::ReceiveDisplay* display)
{
    display->flushPending();
    QStringList out;
    for (QTextBlock b = display->document()->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            out << (kirt::ReceiveDisplay::isSentFormat(format) ? QStringLiteral("S:")
                                                               : QStringLiteral("R:")) +
                       it.fragment().text();
        }
    return out;
}

// The foreground of each sent character.
QList<QColor> sentColours(kirt::ReceiveDisplay* display)
{
    QList<QColor> colours;
    for (QTextBlock b = display->document()->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (kirt::ReceiveDisplay::isSentFormat(it.fragment().charFormat()))
                colours << it.fragment().charFormat().foreground().color();
    return colours;
}

void sendLine(WindowFixture& f, const QString& text)
{
    f.choose("TransmitFormatComboBox1", Asc);
    auto* edit = f.find<kirt::DataLineEdit>("TransmitEdit1");
    edit->clear();
    QTest::keyClicks(edit, text);
    QCOMPARE(edit->toPlainText(), text);
    f.find<QPushButton>("BitBtn9")->click();
}

} // namespace

class TestShowSent : public QObject
{
    Q_OBJECT

private slots:
    void onShowsSentBytesInOrderInTheirColourOnly();
    void offShowsNothingSent();
    void settingIsKept();
};

void TestShowSent::onShowsSentBytesInOrderInTheirColourOnly()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(Asc);
    f.choose("ShowSentComboBox", 1);
    // The echo goes out but is received text: it is not shown again.
    f.choose("EchoOnOffComboBox", 1);
    // "XY" would answer "!", "PQ" answers "R".
    enableRule(&f.window(), 1, QStringLiteral("5859"), QStringLiteral("21"));
    enableRule(&f.window(), 2, QStringLiteral("5051"), QStringLiteral("52"));
    QVERIFY(f.openPort());
    const QString log = f.file(QStringLiteral("run.log"));
    QVERIFY(kirt::test::startLog(f, log));

    QVERIFY(f.device().send("ab"));
    QVERIFY(f.waitForText(QStringLiteral("ab")));
    QCOMPARE(f.device().receive(2), QByteArray("ab"));
    sendLine(f, QStringLiteral("XY"));
    QCOMPARE(f.device().receive(2), QByteArray("XY"));
    // A protocol answer is sent within the hand-over of the packet: it follows the packet.
    QVERIFY(f.device().send("PQcd"));
    QCOMPARE(f.device().receive(5), QByteArray("PQRcd"));
    QVERIFY2(f.waitForText(QStringLiteral("abXYPQRcd")), qPrintable(f.display()->displayText()));
    QCOMPARE(runs(f.display()), (QStringList{"R:ab", "S:XY", "R:PQ", "S:R", "R:cd"}));

    // Sent bytes match no rule: "XY" was never answered.
    QCOMPARE(f.window().protocolRule(1).responseCount(), 0u);
    QCOMPARE(f.window().protocolRule(2).responseCount(), 1u);
    QCOMPARE(f.device().receive(1, 300), QByteArray());

    // The log holds only what was received.
    QString logged;
    QVERIFY(PtyDevice::waitUntil([&] {
        QFile file(log);
        logged = file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
        return logged.contains(u'd');
    }));
    QVERIFY2(!logged.contains(u'X') && !logged.contains(u'Y') && !logged.contains(u'R'),
             qPrintable(logged));

    // Distinct from the received text on either background, already shown text included.
    for (const auto& [scheme, text] : {std::pair{0, QColor(Qt::black)}, {1, QColor(Qt::white)}}) {
        f.choose("ColorComboBox", scheme);
        const QColor sent = f.display()->sentColour();
        QVERIFY(sent != text);
        QCOMPARE(f.display()->palette().color(QPalette::Text), text);
        QCOMPARE(sentColours(f.display()), (QList<QColor>{sent, sent}));
    }
}

void TestShowSent::offShowsNothingSent()
{
    WindowFixture f(Device::Pty);
    f.showWithDisplayFormat(Asc);
    QCOMPARE(f.find<QComboBox>("ShowSentComboBox")->currentIndex(), 0);
    QVERIFY(f.openPort());
    sendLine(f, QStringLiteral("XY"));
    QCOMPARE(f.device().receive(2), QByteArray("XY"));
    QVERIFY(f.device().send("cd"));
    QVERIFY2(f.waitForText(QStringLiteral("cd")), qPrintable(f.display()->displayText()));
    QCOMPARE(runs(f.display()), QStringList{"R:cd"});
}

void TestShowSent::settingIsKept()
{
    WindowFixture f;
    f.choose("ShowSentComboBox", 1);
    f.window().close();
    f.destroyWindow();
    QVERIFY(f.settings.read().contains("ShowSent=1\n"));
    QCOMPARE(f.find<QComboBox>("ShowSentComboBox")->currentIndex(), 1);

    // A file of an earlier version lacks it: OFF, without a word.
    f.window().close();
    f.destroyWindow();
    f.settings.write(f.settings.read().replace("ShowSent=1\n", ""));
    QCOMPARE(f.find<QComboBox>("ShowSentComboBox")->currentIndex(), 0);
    QCOMPARE(f.answers.errors, QStringList());

    // It is read after every other setting: an unreadable one before it ends the restore.
    f.destroyWindow();
    f.settings.write(
        f.settings.read().replace("RtsOn=0\n", "RtsOn=on\n").replace("ShowSent=0", "ShowSent=1"));
    QCOMPARE(f.find<QComboBox>("ShowSentComboBox")->currentIndex(), 0);
    QCOMPARE(f.answers.errors, QStringList{"Invalid data type for 'RtsOn'"});
}

QTEST_MAIN(TestShowSent)
#include "tst_showsent.moc"
