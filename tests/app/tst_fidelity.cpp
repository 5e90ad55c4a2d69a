// Small behaviours found by using the program as a user or a device would.
#include "tests/support/columns.h"
#include "tests/support/windowfixture.h"
#include "ui/datalineedit.h"
#include "ui/receivedisplay.h"

#include <QApplication>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

using kirt::test::WindowFixture;

namespace {

const QByteArray StoredSettings = "[Kirt]\nSerialPort=0\nBaudRate=12\nDataBit=4\nStopBit=0\n"
                                  "ParityBit=0\nDisplayFormat=1\nNewLineChar=%1\nEchoOnOff=0\n"
                                  "ScrollBar=0\nLineLimit=0\nColor=1\nAutoIntervalTime=6\n";

QByteArray settingsWith(const char* name, const char* value)
{
    QByteArray text = StoredSettings;
    text.replace("NewLineChar=%1", "NewLineChar=00");
    const QByteArray key = QByteArray(name) + '=';
    const qsizetype at = text.indexOf(key);
    const qsizetype end = text.indexOf('\n', at);
    return text.replace(at, end - at, key + value);
}

// The key as X11 delivers it: Delete carries the text 7Fh, Backspace 08h.
void pressToFocus(Qt::Key key, const QString& text)
{
    QWidget* focus = QApplication::focusWidget();
    QVERIFY(focus);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(focus, &press);
}

void commit(QWidget* field, const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(field, &event);
}

} // namespace

class TestFidelity : public QObject
{
    Q_OBJECT

private slots:
    void storedNewLineTextIsKeptWhole();
    void windowFrameIsCentred();
    void deleteAndBackspaceEditEveryDataField_data();
    void deleteAndBackspaceEditEveryDataField();
    void deleteNeverBecomesData();
    void inputMethodTextFollowsTheKeyRules();
    void lineSettingWithoutSelectionFailsTheOpen_data();
    void lineSettingWithoutSelectionFailsTheOpen();
    void verticalScrollBarShowsAtOnce();
    void hexRowsWrapAtBlanks();
};

void TestFidelity::storedNewLineTextIsKeptWhole()
{
    WindowFixture f(WindowFixture::Device::Pty);
    f.settings.write(settingsWith("NewLineChar", "0D0A"));
    f.window().show();
    auto* edit = f.find<QLineEdit>("NewLineCharEdit");
    QCOMPARE(edit->text(), QStringLiteral("0D0A"));
    // Its first two digits make the new-line character.
    QVERIFY(f.window().newLineEnabled());
    QCOMPARE(f.window().newLineChar(), 0x0D);
    QCOMPARE(f.find<QLabel>("StatusPanel2")->text(), QStringLiteral("New Line Char : ON"));
    // Typing still stops at two characters.
    edit->setFocus();
    edit->setCursorPosition(4);
    QTest::keyClicks(edit, "1");
    QCOMPARE(edit->text(), QStringLiteral("0D0A"));
    QVERIFY(f.openPort());
    QVERIFY(f.device().send("AB\x0D"
                            "CD"));
    QVERIFY2(f.waitForText(QStringLiteral("AB\n\nCD")), qPrintable(f.display()->displayText()));
    QVERIFY(f.window().close());
    QVERIFY(f.settings.read().contains("NewLineChar=0D0A"));
    QVERIFY(f.answers.errors.isEmpty());
}

void TestFidelity::windowFrameIsCentred()
{
    WindowFixture f;
    TFmain& w = f.window();
    QVERIFY(f.showActive());
    const QRect available = w.screen()->availableGeometry();
    const QRect frame = w.frameGeometry();
    const QString where = QStringLiteral("frame %1,%2 %3x%4 on %5x%6")
                              .arg(frame.x())
                              .arg(frame.y())
                              .arg(frame.width())
                              .arg(frame.height())
                              .arg(available.width())
                              .arg(available.height());
    // The offscreen screen is narrower than the designed frame: the window shrinks to fit.
    QVERIFY2(available.contains(frame), qPrintable(where));
    QVERIFY2(qAbs(frame.center().x() - available.center().x()) <= 1, qPrintable(where));
    QVERIFY2(qAbs(frame.center().y() - available.center().y()) <= 1, qPrintable(where));
}

void TestFidelity::deleteAndBackspaceEditEveryDataField_data()
{
    kirt::test::columns<QString, QString, QString, int>({"view", "field", "formatBox", "format"});
    kirt::test::row("transmit line, HEX", "TransmitDataView_BitBtn", "TransmitEdit3",
                    "TransmitFormatComboBox3", 0);
    kirt::test::row("transmit line, ASC", "TransmitDataView_BitBtn", "TransmitEdit3",
                    "TransmitFormatComboBox3", 1);
    kirt::test::row("receive packet, HEX", "ProtocolData_BitBtn", "RxEdit2",
                    "ProtocolFormatComboBox2", 0);
    kirt::test::row("response, ASC", "ProtocolData_BitBtn", "TxEdit4", "ProtocolFormatComboBox4",
                    1);
    kirt::test::row("new-line character", "OPTION_BitBtn", "NewLineCharEdit", "", 0);
}

void TestFidelity::deleteAndBackspaceEditEveryDataField()
{
    QFETCH(QString, view);
    QFETCH(QString, field);
    QFETCH(QString, formatBox);
    QFETCH(int, format);
    WindowFixture f;
    QVERIFY(f.showActive());
    f.click(view);
    if (!formatBox.isEmpty())
        f.choose(formatBox, format);
    auto* widget = f.find<QWidget>(field);
    widget->setFocus();
    QTRY_VERIFY(widget->hasFocus());
    const auto text = [&] {
        if (auto* line = qobject_cast<QLineEdit*>(widget))
            return line->text();
        return static_cast<kirt::DataLineEdit*>(widget)->fieldText();
    };
    if (auto* line = qobject_cast<QLineEdit*>(widget))
        line->clear();
    QTest::keyClicks(widget, "AB");
    QCOMPARE(text(), QStringLiteral("AB"));
    QTest::keyClick(widget, Qt::Key_Left);
    pressToFocus(Qt::Key_Delete, QStringLiteral("\x7f"));
    QCOMPARE(text(), QStringLiteral("A"));
    pressToFocus(Qt::Key_Backspace, QStringLiteral("\b"));
    QCOMPARE(text(), QString());
}

void TestFidelity::deleteNeverBecomesData()
{
    WindowFixture f(WindowFixture::Device::Pty);
    QVERIFY(f.showActive());
    QVERIFY(f.openPort());
    f.click("TransmitDataView_BitBtn");
    f.choose("TransmitFormatComboBox1", 1);
    auto* line = f.find<kirt::DataLineEdit>("TransmitEdit1");
    line->setFocus();
    QTest::keyClicks(line, "AB");
    QTest::keyClick(line, Qt::Key_Home);
    pressToFocus(Qt::Key_Delete, QStringLiteral("\x7f"));
    QTest::keyClick(line, Qt::Key_1, Qt::AltModifier);
    QCOMPARE(f.device().receive(1, 500), QByteArray("B"));
}

void TestFidelity::inputMethodTextFollowsTheKeyRules()
{
    WindowFixture f;
    TFmain& w = f.window();
    QVERIFY(f.showActive());
    f.click("TransmitDataView_BitBtn");
    auto* hex = f.find<kirt::DataLineEdit>("TransmitEdit1");
    hex->setFocus();
    commit(hex, QStringLiteral("\u00e9a1"));
    QCOMPARE(hex->fieldText(), QStringLiteral("A1"));
    commit(hex, QString(1200, u'F'));
    QCOMPARE(hex->fieldText().size(), 1000);

    // The new-line field filters as the last selected line does: HEX here.
    f.click("OPTION_BitBtn");
    auto* newLine = f.find<QLineEdit>("NewLineCharEdit");
    newLine->clear();
    newLine->setFocus();
    commit(newLine, QStringLiteral("g0d\u00e9A"));
    QCOMPARE(newLine->text(), QStringLiteral("0D"));
    QCOMPARE(w.newLineChar(), std::uint8_t{0x0D});

    f.click("TransmitDataView_BitBtn");
    f.choose("TransmitFormatComboBox2", 1);
    auto* asc = f.find<kirt::DataLineEdit>("TransmitEdit2");
    asc->setFocus();
    QTRY_VERIFY(asc->hasFocus());
    commit(asc, QString(600, u'x'));
    QCOMPARE(asc->fieldText(), QString(500, u'x'));
}

void TestFidelity::lineSettingWithoutSelectionFailsTheOpen_data()
{
    QTest::addColumn<QByteArray>("setting");
    QTest::newRow("baud rate") << QByteArray("BaudRate");
    QTest::newRow("data bits") << QByteArray("DataBit");
    QTest::newRow("stop bits") << QByteArray("StopBit");
    QTest::newRow("parity") << QByteArray("ParityBit");
}

void TestFidelity::lineSettingWithoutSelectionFailsTheOpen()
{
    QFETCH(QByteArray, setting);
    WindowFixture f(WindowFixture::Device::Pty);
    f.settings.write(settingsWith(setting.constData(), "-1"));
    TFmain& w = f.window();
    w.show();
    f.click("COM_BitBtn");
    QVERIFY(!w.portOpen());
    QCOMPARE(f.answers.messages, QStringList{QStringLiteral("Set ComPort Status ERROR!")});
    QCOMPARE(f.find<QPushButton>("COM_BitBtn")->text(), QStringLiteral("COM OPEN"));
}

void TestFidelity::verticalScrollBarShowsAtOnce()
{
    WindowFixture f;
    QVERIFY(f.showActive());
    f.click("OPTION_BitBtn");
    f.choose("ScrollBarComboBox", 1);
    f.click("ReceiveView_BitBtn");
    auto* display = f.find<kirt::ReceiveDisplay>("mMessage");
    QTRY_VERIFY(display->verticalScrollBar()->isVisible());
}

void TestFidelity::hexRowsWrapAtBlanks()
{
    WindowFixture f(WindowFixture::Device::Pty);
    f.showWithDisplayFormat(0);
    QVERIFY(f.openPort());
    QVERIFY(f.device().send(QByteArray(100, 0x77)));
    QVERIFY(f.waitForText(QStringLiteral("77 ").repeated(100)));
    kirt::PtyDevice::serveEvents(100);
    const QTextDocument* document = f.display()->document();
    QVERIFY(document->blockCount() > 1);
    for (QTextBlock b = document->begin(); b.isValid(); b = b.next())
        QVERIFY2(QRegularExpression(QStringLiteral("^(77 )*(77)?$")).match(b.text()).hasMatch(),
                 qPrintable(b.text()));
}

QTEST_MAIN(TestFidelity)
#include "tst_fidelity.moc"
