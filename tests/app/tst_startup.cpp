// Start-up, the settings kept between runs, the status line and closing.
#include "app/Umain.h"
#include "display/displaytables.h"
#include "tests/support/controls.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/tempsettings.h"
#include "ui/datalineedit.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSlider>
#include <QtTest>

using kirt::test::choose;
using kirt::test::DialogAnswerer;
using kirt::test::find;
using kirt::test::TempSettings;

namespace {

const QStringList SettingNames = {"SerialPort", "BaudRate",      "DataBit",     "StopBit",
                                  "ParityBit",  "DisplayFormat", "NewLineChar", "EchoOnOff",
                                  "ScrollBar",  "LineLimit",     "Color",       "AutoIntervalTime"};

// A complete settings file with some values replaced or (with an empty value) left out.
QByteArray settingsFile(const QMap<QString, QString>& overrides = {})
{
    const QMap<QString, QString> defaults = {
        {"SerialPort", "0"},   {"BaudRate", "12"}, {"DataBit", "4"},
        {"StopBit", "0"},      {"ParityBit", "0"}, {"DisplayFormat", "1"},
        {"NewLineChar", "00"}, {"EchoOnOff", "0"}, {"ScrollBar", "0"},
        {"LineLimit", "0"},    {"Color", "1"},     {"AutoIntervalTime", "6"}};
    QByteArray text = "[Kirt]\n";
    for (const QString& name : SettingNames) {
        const QString value = overrides.value(name, defaults.value(name));
        if (value == QLatin1String("<absent>"))
            continue;
        text += (name + u'=' + value + u'\n').toLatin1();
    }
    return text;
}

QStringList statusPanels(QWidget* window)
{
    QStringList texts;
    for (int i = 0; i < 5; ++i)
        texts << find<QLabel>(window, qPrintable(QStringLiteral("StatusPanel%1").arg(i)))->text();
    return texts;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void firstRunState();
    void closingWritesAllTwelveAndSecondStartRestores();
    void restoreRanges_data();
    void restoreRanges();
    void readFailuresAreReportedAndStartupFinishes_data();
    void readFailuresAreReportedAndStartupFinishes();
    void absentNewLineCharIsNoError();
    void rowsAndRulesStartEmptyWhateverWasThere();
    void lineLimitFollowsDisplayHeight();
    void refusedCloseStillSaves();
};

void TestStartup::firstRunState()
{
    TempSettings settings;
    DialogAnswerer answers;
    TFmain w;

    QCOMPARE(w.windowTitle(), QStringLiteral("Kirt - Untitled"));
    QCOMPARE(w.size(), QSize(800, 602));
    QCOMPARE(w.minimumSize(), QSize(800, 600));
    QCOMPARE(find<QComboBox>(&w, "DisplayFormatComboBox")->currentText(), QStringLiteral("ASC"));
    QCOMPARE(find<QLineEdit>(&w, "NewLineCharEdit")->text(), QStringLiteral("00"));
    QCOMPARE(find<QSlider>(&w, "TrackBar1")->value(), 6);
    QCOMPARE(find<QLabel>(&w, "AutoTimeValue")->text(), QStringLiteral("500ms"));
    QVERIFY(!find<QComboBox>(&w, "LineLimitComboBox")->isEnabled());
    QCOMPARE(find<QComboBox>(&w, "TimeOutComboBox")->currentText(), QStringLiteral("2ms"));
    QCOMPARE(w.comSettings().readTimeoutMs, 2u);
    QCOMPARE(w.comSettings().baudRate, 9600u);
    QCOMPARE(w.comSettings().dataBits, 8);

    // White text on black.
    const QPalette p = find<QPlainTextEdit>(&w, "mMessage")->palette();
    QCOMPARE(p.color(QPalette::Base), QColor(Qt::black));
    QCOMPARE(p.color(QPalette::Text), QColor(Qt::white));

    QCOMPARE(statusPanels(&w),
             QStringList({"PORT : COM1, 9600, 8, 1, NONE", "Display Format : ASC",
                          "New Line Char : OFF", "Echo : OFF", "Auto Interval : 500ms STOP"}));

    // Receive display in front, everything else behind it.
    QVERIFY(!find<QWidget>(&w, "mMessage")->isHidden());
    QVERIFY(!find<QWidget>(&w, "InfoPanel1")->isHidden());
    for (const char* hidden : {"BoardPanel1", "BoardPanel2", "OptionPageControl", "TempEdit",
                               "DownloadPanel", "RxMemoryFull"})
        QVERIFY2(find<QWidget>(&w, hidden)->isHidden(), hidden);
    QVERIFY(answers.errors.isEmpty());
    QVERIFY(!settings.exists());

    w.close();
    QVERIFY(settings.exists());
    QSettings stored(settings.settingsFile(), QSettings::IniFormat);
    stored.beginGroup(QStringLiteral("Kirt"));
    QCOMPARE(stored.childKeys().size(), 12);
    for (const QString& name : SettingNames)
        QVERIFY2(stored.contains(name), qPrintable(name));
    // Integers are written as plain integers, the new-line character as text.
    QVERIFY(settings.read().contains("DisplayFormat=1\n"));
    QVERIFY(settings.read().contains("AutoIntervalTime=6\n"));
    QVERIFY(settings.read().contains("NewLineChar=00\n"));
}

void TestStartup::closingWritesAllTwelveAndSecondStartRestores()
{
    TempSettings settings;
    DialogAnswerer answers;
    {
        TFmain w;
        find<QComboBox>(&w, "SerialPortComboBox")->setCurrentIndex(11);
        find<QComboBox>(&w, "BaudRateComboBox")->setCurrentIndex(17);
        find<QComboBox>(&w, "DataBitsComboBox")->setCurrentIndex(3);
        find<QComboBox>(&w, "StopBitsComboBox")->setCurrentIndex(2);
        find<QComboBox>(&w, "ParityBitsComboBox")->setCurrentIndex(2);
        find<QComboBox>(&w, "DisplayFormatComboBox")->setCurrentIndex(0);
        find<QLineEdit>(&w, "NewLineCharEdit")->setText(QStringLiteral("0D"));
        find<QComboBox>(&w, "EchoOnOffComboBox")->setCurrentIndex(1);
        find<QComboBox>(&w, "ScrollBarComboBox")->setCurrentIndex(1);
        find<QComboBox>(&w, "LineLimitComboBox")->setCurrentIndex(15);
        find<QComboBox>(&w, "ColorComboBox")->setCurrentIndex(0);
        find<QSlider>(&w, "TrackBar1")->setValue(0);
        find<QComboBox>(&w, "TimeOutComboBox")->setCurrentIndex(22);
        w.close();
    }
    TFmain w;
    QCOMPARE(answers.errors, QStringList());
    QCOMPARE(find<QComboBox>(&w, "LineLimitComboBox")->currentIndex(), 15);
    QVERIFY(find<QComboBox>(&w, "LineLimitComboBox")->isEnabled());
    QCOMPARE(w.displayLineLimit(), 5000u);
    QCOMPARE(w.comSettings().baudRate, 115200u);
    QCOMPARE(w.comSettings().dataBits, 7);
    QCOMPARE(w.comSettings().stopBits, 2);
    QCOMPARE(w.comSettings().parity, 2);
    QCOMPARE(w.newLineChar(), 0x0D);
    QCOMPARE(find<QComboBox>(&w, "ColorComboBox")->currentIndex(), 0);
    const QPalette p = find<QPlainTextEdit>(&w, "mMessage")->palette();
    QCOMPARE(p.color(QPalette::Base), QColor(Qt::white));
    // The read time-out is never kept.
    QCOMPARE(find<QComboBox>(&w, "TimeOutComboBox")->currentIndex(), 1);
    QCOMPARE(statusPanels(&w),
             QStringList({"PORT : COM12, 115200, 7, 2, EVEN", "Display Format : HEX",
                          "New Line Char : ON", "Echo : ON", "Auto Interval : 20ms STOP"}));
}

void TestStartup::restoreRanges_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("expected");

    QTest::newRow("interval 15") << "AutoIntervalTime"
                                 << "15"
                                 << "TrackBar1" << 15;
    QTest::newRow("interval -1 gives 0") << "AutoIntervalTime"
                                         << "-1"
                                         << "TrackBar1" << 0;
    QTest::newRow("interval 16 keeps layout") << "AutoIntervalTime"
                                              << "16"
                                              << "TrackBar1" << 6;
    QTest::newRow("interval -2 keeps layout") << "AutoIntervalTime"
                                              << "-2"
                                              << "TrackBar1" << 6;
    QTest::newRow("display format 2 keeps HEX") << "DisplayFormat"
                                                << "2"
                                                << "DisplayFormatComboBox" << 0;
    QTest::newRow("baud -1 selects nothing") << "BaudRate"
                                             << "-1"
                                             << "BaudRateComboBox" << -1;
    QTest::newRow("baud 18 keeps layout") << "BaudRate"
                                          << "18"
                                          << "BaudRateComboBox" << 12;
    QTest::newRow("port 29") << "SerialPort"
                             << "29"
                             << "SerialPortComboBox" << 29;
    QTest::newRow("port 30 selects nothing") << "SerialPort"
                                             << "30"
                                             << "SerialPortComboBox" << -1;
}

void TestStartup::restoreRanges()
{
    QFETCH(QString, name);
    QFETCH(QString, stored);
    QFETCH(QString, control);
    QFETCH(int, expected);
    TempSettings settings;
    settings.write(settingsFile({{name, stored}}));
    DialogAnswerer answers;
    TFmain w;
    QVERIFY(answers.errors.isEmpty());
    QWidget* c = find<QWidget>(&w, qPrintable(control));
    if (auto* slider = qobject_cast<QSlider*>(c))
        QCOMPARE(slider->value(), expected);
    else
        QCOMPARE(qobject_cast<QComboBox*>(c)->currentIndex(), expected);
}

void TestStartup::readFailuresAreReportedAndStartupFinishes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("message");

    QTest::newRow("absent integer") << "EchoOnOff"
                                    << "<absent>"
                                    << "Failed to get data for 'EchoOnOff'";
    QTest::newRow("text for an integer") << "BaudRate"
                                         << "fast"
                                         << "Invalid data type for 'BaudRate'";
    QTest::newRow("beyond 32 bits") << "Color"
                                    << "4294967296"
                                    << "Invalid data type for 'Color'";
    QTest::newRow("list for a string") << "NewLineChar"
                                       << "0D, 0A"
                                       << "Invalid data type for 'NewLineChar'";
}

void TestStartup::readFailuresAreReportedAndStartupFinishes()
{
    QFETCH(QString, name);
    QFETCH(QString, stored);
    QFETCH(QString, message);
    TempSettings settings;
    // Values after the failing one are not read: the interval stays at its layout position.
    settings.write(settingsFile({{name, stored}, {"AutoIntervalTime", "15"}}));
    DialogAnswerer answers;
    TFmain w;
    QCOMPARE(answers.errors, QStringList{message});
    QCOMPARE(find<QSlider>(&w, "TrackBar1")->value(), 6);
    // The rest of start-up ran: status line composed, limits set, display in front.
    QVERIFY(find<QLabel>(&w, "StatusPanel0")->text().startsWith(QStringLiteral("PORT : ")));
    QCOMPARE(find<QLineEdit>(&w, "NewLineCharEdit")->maxLength(), 2);
    QCOMPARE(find<kirt::DataLineEdit>(&w, "TransmitEdit1")->maxLength(), 1000);
    QVERIFY(!find<QWidget>(&w, "mMessage")->isHidden());
}

void TestStartup::absentNewLineCharIsNoError()
{
    TempSettings settings;
    settings.write(settingsFile({{"NewLineChar", "<absent>"}, {"EchoOnOff", "1"}}));
    DialogAnswerer answers;
    TFmain w;
    QVERIFY(answers.errors.isEmpty());
    QCOMPARE(find<QLineEdit>(&w, "NewLineCharEdit")->text(), QString());
    QVERIFY(!w.newLineEnabled());
    // Reading went on past it.
    QCOMPARE(find<QComboBox>(&w, "EchoOnOffComboBox")->currentIndex(), 1);
}

void TestStartup::rowsAndRulesStartEmptyWhateverWasThere()
{
    TempSettings settings;
    DialogAnswerer answers;
    TFmain w;
    for (int n = 1; n <= 9; ++n) {
        const QString num = QString::number(n);
        QVERIFY(find<kirt::DataLineEdit>(&w, qPrintable("TransmitEdit" + num))
                    ->toPlainText()
                    .isEmpty());
        QCOMPARE(find<QComboBox>(&w, qPrintable("TransmitFormatComboBox" + num))->currentText(),
                 QStringLiteral("HEX"));
        QCOMPARE(find<QComboBox>(&w, qPrintable("TransmitAutoComboBox" + num))->currentText(),
                 QStringLiteral("OFF"));
        QCOMPARE(find<QComboBox>(&w, qPrintable("CRLFComboBox" + num))->currentText(),
                 QStringLiteral("OFF"));
    }
    for (int n = 1; n <= 4; ++n) {
        const QString num = QString::number(n);
        QVERIFY(find<kirt::DataLineEdit>(&w, qPrintable("RxEdit" + num))->toPlainText().isEmpty());
        QCOMPARE(find<kirt::DataLineEdit>(&w, qPrintable("TxEdit" + num))->maxLength(), 1000);
        QCOMPARE(find<QComboBox>(&w, qPrintable("ProtocolFormatComboBox" + num))->currentText(),
                 QStringLiteral("HEX"));
        QCOMPARE(find<QComboBox>(&w, qPrintable("ProtocolEnableComboBox" + num))->currentText(),
                 QStringLiteral("OFF"));
        QCOMPARE(w.protocolRule(n).responseCount(), 0u);
    }
    QCOMPARE(w.currentTransmitLine(), 0);
}

void TestStartup::lineLimitFollowsDisplayHeight()
{
    QCOMPARE(kirt::LineLimitForHeight(459), 27u);
    QCOMPARE(kirt::LineLimitForHeight(228), 13u);

    TempSettings settings;
    DialogAnswerer answers;
    TFmain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* display = find<QWidget>(&w, "mMessage");
    w.resize(800, 900);
    QTRY_COMPARE(w.displayLineLimit(), kirt::LineLimitForHeight(display->height()));
    const std::uint32_t tall = w.displayLineLimit();
    w.resize(800, 600);
    QTRY_COMPARE(w.displayLineLimit(), kirt::LineLimitForHeight(display->height()));
    QVERIFY(w.displayLineLimit() < tall);

    // With a scroll bar the limit is the chosen one and resizing leaves it alone.
    auto* scroll = find<QComboBox>(&w, "ScrollBarComboBox");
    scroll->setCurrentIndex(1);
    w.ScrollBarComboBoxClick();
    QCOMPARE(w.displayLineLimit(), 27u);
    w.resize(800, 900);
    QTest::qWait(50);
    QCOMPARE(w.displayLineLimit(), 27u);
}

void TestStartup::refusedCloseStillSaves()
{
    TempSettings settings;
    DialogAnswerer answers;
    TFmain w;
    w.show();
    RefuseNextClose = true;
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QVERIFY(!RefuseNextClose);
    QVERIFY(settings.exists());
    // The refusal lasts for one close only.
    QVERIFY(w.close());
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
