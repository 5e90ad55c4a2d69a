// Small behaviours found by using the program as a user or a device would.
#include "app/Umain.h"
#include "tests/support/controls.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/ptydevice.h"
#include "tests/support/tempsettings.h"
#include "ui/datalineedit.h"
#include "ui/receivedisplay.h"

#include <QApplication>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QtTest>

using kirt::PtyDevice;
using kirt::test::choose;
using kirt::test::DialogAnswerer;
using kirt::test::find;
using kirt::test::TempSettings;

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
};

void TestFidelity::storedNewLineTextIsKeptWhole()
{
    TempSettings settings;
    DialogAnswerer answers;
    settings.write(settingsWith("NewLineChar", "0D0A"));
    {
        TFmain w;
        w.show();
        auto* edit = find<QLineEdit>(&w, "NewLineCharEdit");
        QCOMPARE(edit->text(), QStringLiteral("0D0A"));
        QVERIFY(!w.newLineEnabled());
        // Typing still stops at two characters.
        edit->setFocus();
        edit->setCursorPosition(4);
        QTest::keyClicks(edit, "1");
        QCOMPARE(edit->text(), QStringLiteral("0D0A"));
        QVERIFY(w.close());
    }
    QVERIFY(settings.read().contains("NewLineChar=0D0A"));
    QVERIFY(answers.errors.isEmpty());
}

void TestFidelity::windowFrameIsCentred()
{
    TempSettings settings;
    DialogAnswerer answers;
    TFmain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QRect available = w.screen()->availableGeometry();
    const QRect frame = w.frameGeometry();
    const QString where = QStringLiteral("frame %1,%2 %3x%4 on %5x%6")
                              .arg(frame.x())
                              .arg(frame.y())
                              .arg(frame.width())
                              .arg(frame.height())
                              .arg(available.width())
                              .arg(available.height());
    QVERIFY2(qAbs(frame.center().y() - available.center().y()) <= 1, qPrintable(where));
    // A frame wider than the screen may be held at the screen's edge by the platform.
    if (frame.width() <= available.width())
        QVERIFY2(qAbs(frame.center().x() - available.center().x()) <= 1, qPrintable(where));
    else
        QVERIFY2(frame.x() <= available.x(), qPrintable(where));
}

void TestFidelity::deleteAndBackspaceEditEveryDataField_data()
{
    QTest::addColumn<QString>("view");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("formatBox");
    QTest::addColumn<int>("format");
    QTest::newRow("transmit line, HEX") << "TransmitDataView_BitBtn"
                                        << "TransmitEdit3"
                                        << "TransmitFormatComboBox3" << 0;
    QTest::newRow("transmit line, ASC") << "TransmitDataView_BitBtn"
                                        << "TransmitEdit3"
                                        << "TransmitFormatComboBox3" << 1;
    QTest::newRow("receive packet, HEX") << "ProtocolData_BitBtn"
                                         << "RxEdit2"
                                         << "ProtocolFormatComboBox2" << 0;
    QTest::newRow("response, ASC") << "ProtocolData_BitBtn"
                                   << "TxEdit4"
                                   << "ProtocolFormatComboBox4" << 1;
    QTest::newRow("new-line character") << "OPTION_BitBtn"
                                        << "NewLineCharEdit"
                                        << "" << 0;
}

void TestFidelity::deleteAndBackspaceEditEveryDataField()
{
    QFETCH(QString, view);
    QFETCH(QString, field);
    QFETCH(QString, formatBox);
    QFETCH(int, format);
    TempSettings settings;
    DialogAnswerer answers;
    TFmain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    find<QPushButton>(&w, qPrintable(view))->click();
    if (!formatBox.isEmpty())
        choose(&w, qPrintable(formatBox), format);
    auto* widget = find<QWidget>(&w, qPrintable(field));
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
    TempSettings settings;
    DialogAnswerer answers;
    PtyDevice device(1);
    TFmain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    find<QPushButton>(&w, "COM_BitBtn")->click();
    QVERIFY(w.portOpen());
    find<QPushButton>(&w, "TransmitDataView_BitBtn")->click();
    choose(&w, "TransmitFormatComboBox1", 1);
    auto* line = find<kirt::DataLineEdit>(&w, "TransmitEdit1");
    line->setFocus();
    QTest::keyClicks(line, "AB");
    QTest::keyClick(line, Qt::Key_Home);
    pressToFocus(Qt::Key_Delete, QStringLiteral("\x7f"));
    QTest::keyClick(line, Qt::Key_1, Qt::AltModifier);
    QCOMPARE(device.receive(1, 500), QByteArray("B"));
}

void TestFidelity::inputMethodTextFollowsTheKeyRules()
{
    TempSettings settings;
    DialogAnswerer answers;
    TFmain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    find<QPushButton>(&w, "TransmitDataView_BitBtn")->click();
    auto* hex = find<kirt::DataLineEdit>(&w, "TransmitEdit1");
    hex->setFocus();
    commit(hex, QStringLiteral("\u00e9a1"));
    QCOMPARE(hex->fieldText(), QStringLiteral("A1"));
    commit(hex, QString(1200, u'F'));
    QCOMPARE(hex->fieldText().size(), 1000);

    // The new-line field filters as the last selected line does: HEX here.
    find<QPushButton>(&w, "OPTION_BitBtn")->click();
    auto* newLine = find<QLineEdit>(&w, "NewLineCharEdit");
    newLine->clear();
    newLine->setFocus();
    commit(newLine, QStringLiteral("g0d\u00e9A"));
    QCOMPARE(newLine->text(), QStringLiteral("0D"));
    QCOMPARE(w.newLineChar(), std::uint8_t{0x0D});

    find<QPushButton>(&w, "TransmitDataView_BitBtn")->click();
    choose(&w, "TransmitFormatComboBox2", 1);
    auto* asc = find<kirt::DataLineEdit>(&w, "TransmitEdit2");
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
    TempSettings settings;
    DialogAnswerer answers;
    PtyDevice device(1);
    settings.write(settingsWith(setting.constData(), "-1"));
    TFmain w;
    w.show();
    find<QPushButton>(&w, "COM_BitBtn")->click();
    QVERIFY(!w.portOpen());
    QCOMPARE(answers.messages, QStringList{QStringLiteral("Set ComPort Status ERROR!")});
    QCOMPARE(find<QPushButton>(&w, "COM_BitBtn")->text(), QStringLiteral("COM OPEN"));
}

void TestFidelity::verticalScrollBarShowsAtOnce()
{
    TempSettings settings;
    DialogAnswerer answers;
    TFmain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    find<QPushButton>(&w, "OPTION_BitBtn")->click();
    choose(&w, "ScrollBarComboBox", 1);
    find<QPushButton>(&w, "ReceiveView_BitBtn")->click();
    auto* display = find<kirt::ReceiveDisplay>(&w, "mMessage");
    QTRY_VERIFY(display->verticalScrollBar()->isVisible());
}

QTEST_MAIN(TestFidelity)
#include "tst_fidelity.moc"
