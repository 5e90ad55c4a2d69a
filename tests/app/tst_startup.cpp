// Start-up, the settings kept between runs and their profiles, the status line and closing.
#include "config/profile.h"
#include "config/settingsstore.h"
#include "display/displaytables.h"
#include "tests/support/columns.h"
#include "tests/support/files.h"
#include "tests/support/windowfixture.h"
#include "ui/datalineedit.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QSettings>
#include <QSlider>
#include <QtTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using kirt::test::WindowFixture;

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

QStringList statusPanels(WindowFixture& f)
{
    QStringList texts;
    for (int i = 0; i < 5; ++i)
        texts << f.find<QLabel>(QStringLiteral("StatusPanel%1").arg(i))->text();
    return texts;
}

// A window as `kirt --profile NAME` starts it.
std::unique_ptr<TFmain> windowOf(const QString& profile)
{
    kirt::setCurrentProfile(profile);
    return std::make_unique<TFmain>();
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
    void settingsThatAreNoFile_data();
    void settingsThatAreNoFile();
    void settingsThroughALinkKeepTheLink();
    void profilesKeepTheirOwn();
    void secondWindowOfAProfileWritesNothing();
};

void TestStartup::firstRunState()
{
    WindowFixture f;
    TFmain& w = f.window();

    QCOMPARE(w.windowTitle(), QStringLiteral("Kirt - Untitled"));
    QCOMPARE(w.size(), QSize(800, 602));
    QCOMPARE(w.minimumSize(), QSize(800, 600));
    QCOMPARE(f.find<QComboBox>("DisplayFormatComboBox")->currentText(), QStringLiteral("ASC"));
    QCOMPARE(f.find<QLineEdit>("NewLineCharEdit")->text(), QStringLiteral("00"));
    QCOMPARE(f.find<QSlider>("TrackBar1")->value(), 6);
    QCOMPARE(f.find<QLabel>("AutoTimeValue")->text(), QStringLiteral("500ms"));
    QVERIFY(!f.find<QComboBox>("LineLimitComboBox")->isEnabled());
    QCOMPARE(f.find<QComboBox>("TimeOutComboBox")->currentText(), QStringLiteral("2ms"));
    QCOMPARE(w.comSettings().readTimeoutMs, 2u);
    QCOMPARE(w.comSettings().baudRate, 9600u);
    QCOMPARE(w.comSettings().dataBits, 8);

    // White text on black.
    const QPalette p = f.find<QPlainTextEdit>("mMessage")->palette();
    QCOMPARE(p.color(QPalette::Base), QColor(Qt::black));
    QCOMPARE(p.color(QPalette::Text), QColor(Qt::white));

    QCOMPARE(statusPanels(f),
             QStringList({"PORT : COM1, 9600, 8, 1, NONE", "Display Format : ASC",
                          "New Line Char : OFF", "Echo : OFF", "Auto Interval : 500ms STOP"}));

    // Receive display in front, everything else behind it.
    QVERIFY(!f.find<QWidget>("mMessage")->isHidden());
    QVERIFY(!f.find<QWidget>("InfoPanel1")->isHidden());
    for (const char* hidden : {"BoardPanel1", "BoardPanel2", "OptionPageControl", "TempEdit",
                               "DownloadPanel", "RxMemoryFull"})
        QVERIFY2(f.find<QWidget>(hidden)->isHidden(), hidden);
    QVERIFY(f.answers.errors.isEmpty());
    QVERIFY(!f.settings.exists());

    w.close();
    QVERIFY(f.settings.exists());
    QSettings stored(f.settings.settingsFile(), QSettings::IniFormat);
    stored.beginGroup(QStringLiteral("Kirt"));
    // The twelve, the four of line control, whether sent data is shown, whether the lines are
    // kept, the stamps, gap rows and following, the display's font size, the terminal's five,
    // XMODEM's block size, the monitor port.
    QCOMPARE(stored.childKeys().size(), 29);
    for (const QString& name :
         SettingNames + QStringList{"CustomBaudRate", "FlowControl", "DtrOn", "RtsOn", "ShowSent",
                                    "KeepWorkbench", "TimeStamp", "GapSplit", "Follow", "FontSize",
                                    "TerminalEnter", "TerminalBackspace", "TerminalCharset",
                                    "TerminalEcho", "TerminalScrollback", "XmodemBlock",
                                    "MonitorPort"})
        QVERIFY2(stored.contains(name), qPrintable(name));
    QVERIFY(f.settings.read().contains("ShowSent=0\n"));
    QVERIFY(f.settings.read().contains("KeepWorkbench=0\n"));
    // Integers are written as plain integers, the new-line character as text.
    QVERIFY(f.settings.read().contains("DisplayFormat=1\n"));
    QVERIFY(f.settings.read().contains("AutoIntervalTime=6\n"));
    QVERIFY(f.settings.read().contains("NewLineChar=00\n"));
}

void TestStartup::closingWritesAllTwelveAndSecondStartRestores()
{
    WindowFixture f;
    f.find<QComboBox>("SerialPortComboBox")->setCurrentIndex(11);
    f.find<QComboBox>("BaudRateComboBox")->setCurrentIndex(17);
    f.find<QComboBox>("DataBitsComboBox")->setCurrentIndex(3);
    f.find<QComboBox>("StopBitsComboBox")->setCurrentIndex(2);
    f.find<QComboBox>("ParityBitsComboBox")->setCurrentIndex(2);
    f.find<QComboBox>("DisplayFormatComboBox")->setCurrentIndex(0);
    f.find<QLineEdit>("NewLineCharEdit")->setText(QStringLiteral("0D"));
    f.find<QComboBox>("EchoOnOffComboBox")->setCurrentIndex(1);
    f.find<QComboBox>("ScrollBarComboBox")->setCurrentIndex(1);
    f.find<QComboBox>("LineLimitComboBox")->setCurrentIndex(15);
    f.find<QComboBox>("ColorComboBox")->setCurrentIndex(0);
    f.find<QSlider>("TrackBar1")->setValue(0);
    f.find<QComboBox>("TimeOutComboBox")->setCurrentIndex(22);
    f.window().close();
    f.destroyWindow();
    TFmain& w = f.window();
    QCOMPARE(f.answers.errors, QStringList());
    QCOMPARE(f.find<QComboBox>("LineLimitComboBox")->currentIndex(), 15);
    QVERIFY(f.find<QComboBox>("LineLimitComboBox")->isEnabled());
    QCOMPARE(w.displayLineLimit(), 5000u);
    QCOMPARE(w.comSettings().baudRate, 115200u);
    QCOMPARE(w.comSettings().dataBits, 7);
    QCOMPARE(w.comSettings().stopBits, kirt::StopBits::Two);
    QCOMPARE(w.comSettings().parity, kirt::Parity::Even);
    QCOMPARE(w.newLineChar(), 0x0D);
    QCOMPARE(f.find<QComboBox>("ColorComboBox")->currentIndex(), 0);
    const QPalette p = f.find<QPlainTextEdit>("mMessage")->palette();
    QCOMPARE(p.color(QPalette::Base), QColor(Qt::white));
    // The read time-out is never kept.
    QCOMPARE(f.find<QComboBox>("TimeOutComboBox")->currentIndex(), 1);
    QCOMPARE(statusPanels(f),
             QStringList({"PORT : COM12, 115200, 7, 2, EVEN", "Display Format : HEX",
                          "New Line Char : ON", "Echo : ON", "Auto Interval : 20ms STOP"}));
}

void TestStartup::restoreRanges_data()
{
    kirt::test::columns<QString, QString, QString, int>({"name", "stored", "control", "expected"});

    kirt::test::row("interval 15", "AutoIntervalTime", "15", "TrackBar1", 15);
    kirt::test::row("interval -1 gives 0", "AutoIntervalTime", "-1", "TrackBar1", 0);
    kirt::test::row("interval 16 keeps layout", "AutoIntervalTime", "16", "TrackBar1", 6);
    kirt::test::row("interval -2 keeps layout", "AutoIntervalTime", "-2", "TrackBar1", 6);
    kirt::test::row("display format 2 keeps HEX", "DisplayFormat", "2", "DisplayFormatComboBox", 0);
    kirt::test::row("baud -1 selects nothing", "BaudRate", "-1", "BaudRateComboBox", -1);
    kirt::test::row("baud 30", "BaudRate", "30", "BaudRateComboBox", 30);
    kirt::test::row("baud 32 keeps layout", "BaudRate", "32", "BaudRateComboBox", 12);
    kirt::test::row("port 29", "SerialPort", "29", "SerialPortComboBox", 29);
    kirt::test::row("port 30 selects nothing", "SerialPort", "30", "SerialPortComboBox", -1);
}

void TestStartup::restoreRanges()
{
    QFETCH(QString, name);
    QFETCH(QString, stored);
    QFETCH(QString, control);
    QFETCH(int, expected);
    WindowFixture f;
    f.settings.write(settingsFile({{name, stored}}));
    f.window(); // start-up reads the file
    QVERIFY(f.answers.errors.isEmpty());
    QWidget* c = f.find<QWidget>(control);
    if (auto* slider = qobject_cast<QSlider*>(c))
        QCOMPARE(slider->value(), expected);
    else
        QCOMPARE(qobject_cast<QComboBox*>(c)->currentIndex(), expected);
}

void TestStartup::readFailuresAreReportedAndStartupFinishes_data()
{
    kirt::test::columns<QString, QString, QString>({"name", "stored", "message"});

    kirt::test::row("absent integer", "EchoOnOff", "<absent>",
                    "Failed to get data for 'EchoOnOff'");
    kirt::test::row("text for an integer", "BaudRate", "fast", "Invalid data type for 'BaudRate'");
    kirt::test::row("beyond 32 bits", "Color", "4294967296", "Invalid data type for 'Color'");
    kirt::test::row("list for a string", "NewLineChar", "0D, 0A",
                    "Invalid data type for 'NewLineChar'");
}

void TestStartup::readFailuresAreReportedAndStartupFinishes()
{
    QFETCH(QString, name);
    QFETCH(QString, stored);
    QFETCH(QString, message);
    WindowFixture f;
    // Values after the failing one are not read: the interval stays at its layout position.
    f.settings.write(settingsFile({{name, stored}, {"AutoIntervalTime", "15"}}));
    f.window(); // start-up reads the file
    QCOMPARE(f.answers.errors, QStringList{message});
    QCOMPARE(f.find<QSlider>("TrackBar1")->value(), 6);
    // The rest of start-up ran: status line composed, limits set, display in front.
    QVERIFY(f.find<QLabel>("StatusPanel0")->text().startsWith(QStringLiteral("PORT : ")));
    QCOMPARE(f.find<QLineEdit>("NewLineCharEdit")->maxLength(), 2);
    QCOMPARE(f.find<kirt::DataLineEdit>("TransmitEdit1")->maxLength(), 1000);
    QVERIFY(!f.find<QWidget>("mMessage")->isHidden());
}

void TestStartup::absentNewLineCharIsNoError()
{
    WindowFixture f;
    f.settings.write(settingsFile({{"NewLineChar", "<absent>"}, {"EchoOnOff", "1"}}));
    TFmain& w = f.window();
    QVERIFY(f.answers.errors.isEmpty());
    QCOMPARE(f.find<QLineEdit>("NewLineCharEdit")->text(), QString());
    QVERIFY(!w.newLineEnabled());
    // Reading went on past it.
    QCOMPARE(f.find<QComboBox>("EchoOnOffComboBox")->currentIndex(), 1);
}

void TestStartup::rowsAndRulesStartEmptyWhateverWasThere()
{
    WindowFixture f;
    TFmain& w = f.window();
    for (int n = 1; n <= 9; ++n) {
        const QString num = QString::number(n);
        QVERIFY(f.find<kirt::DataLineEdit>("TransmitEdit" + num)->toPlainText().isEmpty());
        QCOMPARE(f.find<QComboBox>("TransmitFormatComboBox" + num)->currentText(),
                 QStringLiteral("HEX"));
        QCOMPARE(f.find<QComboBox>("TransmitAutoComboBox" + num)->currentText(),
                 QStringLiteral("OFF"));
        QCOMPARE(f.find<QComboBox>("CRLFComboBox" + num)->currentText(), QStringLiteral("OFF"));
    }
    for (int n = 1; n <= 4; ++n) {
        const QString num = QString::number(n);
        QVERIFY(f.find<kirt::DataLineEdit>("RxEdit" + num)->toPlainText().isEmpty());
        QCOMPARE(f.find<kirt::DataLineEdit>("TxEdit" + num)->maxLength(), 1000);
        QCOMPARE(f.find<QComboBox>("ProtocolFormatComboBox" + num)->currentText(),
                 QStringLiteral("HEX"));
        QCOMPARE(f.find<QComboBox>("ProtocolEnableComboBox" + num)->currentText(),
                 QStringLiteral("OFF"));
        QCOMPARE(w.protocolRule(n).responseCount(), 0u);
    }
    QCOMPARE(w.currentTransmitLine(), 0);
}

void TestStartup::lineLimitFollowsDisplayHeight()
{
    QCOMPARE(kirt::LineLimitForHeight(459), 27u);
    QCOMPARE(kirt::LineLimitForHeight(228), 13u);

    WindowFixture f;
    TFmain& w = f.window();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* display = f.find<QWidget>("mMessage");
    w.resize(800, 900);
    QTRY_COMPARE(w.displayLineLimit(), kirt::LineLimitForHeight(display->height()));
    const std::uint32_t tall = w.displayLineLimit();
    w.resize(800, 600);
    QTRY_COMPARE(w.displayLineLimit(), kirt::LineLimitForHeight(display->height()));
    QVERIFY(w.displayLineLimit() < tall);

    // With a scroll bar the limit is the chosen one and resizing leaves it alone.
    f.choose("ScrollBarComboBox", 1);
    QCOMPARE(w.displayLineLimit(), 27u);
    w.resize(800, 900);
    QTest::qWait(50);
    QCOMPARE(w.displayLineLimit(), 27u);
}

void TestStartup::refusedCloseStillSaves()
{
    WindowFixture f;
    TFmain& w = f.window();
    w.show();
    RefuseNextClose = true;
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QVERIFY(!RefuseNextClose);
    QVERIFY(f.settings.exists());
    // The refusal lasts for one close only.
    QVERIFY(w.close());
}

void TestStartup::settingsThatAreNoFile_data()
{
    kirt::test::columns<QString, bool>({"kind", "throughLink"});
    for (const char* kind : {"fifo", "device"})
        for (const bool link : {false, true})
            kirt::test::row(qPrintable(QStringLiteral("%1%2").arg(link ? "link to " : "", kind)),
                            QString::fromLatin1(kind), link);
    kirt::test::row("folder", "folder", false);
    kirt::test::row("over 1 MB", "large", false);
    kirt::test::row("dangling link", "missing", true);
}

// Nothing that is not a regular settings file is read, blocked on or written: the start is a
// first run, and the close says once that the settings were not saved.
void TestStartup::settingsThatAreNoFile()
{
    QFETCH(QString, kind);
    QFETCH(bool, throughLink);
    WindowFixture f;
    const QString path = f.settings.settingsFile();
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    const QString node = throughLink ? f.settings.configHome() + QStringLiteral("/node") : path;
    const QByteArray name = QFile::encodeName(node);
    if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
    } else if (kind == QLatin1String("device")) {
        if (::geteuid() != 0)
            QSKIP("making a device node needs root");
        QCOMPARE(::mknod(name.constData(), S_IFCHR | 0600, ::makedev(1, 3)), 0);
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(node));
    } else if (kind == QLatin1String("large")) {
        f.settings.write(settingsFile({{"BaudRate", "17"}}) +
                         QByteArray(int(kirt::SettingsStore::MaxFileSize), ';'));
    }
    if (throughLink)
        QVERIFY(QFile::link(node, path));
    struct stat before = {};
    ::lstat(name.constData(), &before);

    TFmain& w = f.window();
    QCOMPARE(f.find<QComboBox>("BaudRateComboBox")->currentIndex(), 12);
    QVERIFY(f.answers.errors.isEmpty());
    QVERIFY(w.close());
    QCOMPARE(f.answers.errors,
             QStringList{QStringLiteral("The settings were not saved to %1.").arg(path)});
    QVERIFY(!f.answers.details.value(0).isEmpty());
    struct stat after = {};
    ::lstat(name.constData(), &after);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_size, before.st_size);
    QCOMPARE(QFileInfo(path).isSymLink(), throughLink);
}

// Dotfile managers link the settings file: the link stays, its target gets the settings.
void TestStartup::settingsThroughALinkKeepTheLink()
{
    WindowFixture f;
    const QString target = f.settings.configHome() + QStringLiteral("/dotfiles/kirt.ini");
    QVERIFY(QDir().mkpath(QFileInfo(target).absolutePath()));
    QVERIFY(QDir().mkpath(QFileInfo(f.settings.settingsFile()).absolutePath()));
    {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(settingsFile({{"BaudRate", "17"}}));
    }
    QVERIFY(QFile::link(target, f.settings.settingsFile()));
    TFmain& w = f.window();
    QCOMPARE(f.find<QComboBox>("BaudRateComboBox")->currentIndex(), 17);
    f.find<QComboBox>("BaudRateComboBox")->setCurrentIndex(15);
    QVERIFY(w.close());
    QVERIFY(f.answers.errors.isEmpty());
    QVERIFY(QFileInfo(f.settings.settingsFile()).isSymLink());
    QVERIFY(QSettings(target, QSettings::IniFormat).value("Kirt/BaudRate").toInt() == 15);
}

void TestStartup::profilesKeepTheirOwn()
{
    WindowFixture f;
    const auto reset = qScopeGuard([] { kirt::setCurrentProfile({}); });
    QCOMPARE(kirt::SettingsStore().path(), f.settings.settingsFile());
    const QString names[] = {QStringLiteral("a"), QStringLiteral("bänch")};
    std::unique_ptr<TFmain> windows[2];
    const auto line1 = [&](int i) {
        return kirt::test::find<kirt::DataLineEdit>(windows[i].get(), "TransmitEdit1");
    };
    for (int i : {0, 1}) { // both open at once
        windows[i] = windowOf(names[i]);
        kirt::test::choose(windows[i].get(), QStringLiteral("BaudRateComboBox"), 14 + i);
        windows[i]->findChild<QAction*>(QStringLiteral("KeepWorkbenchAction"))->trigger();
        line1(i)->setPlainText(QStringLiteral("0%1").arg(i));
    }
    QCOMPARE(windows[1]->windowTitle(), QStringLiteral("Kirt [bänch] - Untitled"));
    for (auto& window : windows)
        QVERIFY(window->close());
    for (int i : {0, 1}) {
        windows[i].reset();
        windows[i] = windowOf(names[i]);
        QCOMPARE(windows[i]->findChild<QComboBox*>("BaudRateComboBox")->currentIndex(), 14 + i);
        QCOMPARE(line1(i)->fieldText(), QStringLiteral("0%1").arg(i));
    }
    QVERIFY(!f.settings.exists());
}

void TestStartup::secondWindowOfAProfileWritesNothing()
{
    WindowFixture f;
    const auto reset = qScopeGuard([] { kirt::setCurrentProfile({}); });
    const QString folder = f.settings.configHome() + QStringLiteral("/kirt/profiles/a/");
    auto first = windowOf(QStringLiteral("a"));
    QVERIFY(first->close()); // written; the window lives on, holding the profile
    const QByteArray written = kirt::test::fileContents(folder + QStringLiteral("kirt.ini"));
    auto second = windowOf(QStringLiteral("a"));
    QCOMPARE(
        second->windowTitle(),
        QStringLiteral("Kirt [a] - Untitled (already open in another window: settings not saved)"));
    kirt::test::choose(second.get(), QStringLiteral("BaudRateComboBox"), 3);
    second->findChild<QAction*>(QStringLiteral("KeepWorkbenchAction"))->trigger();
    QVERIFY(second->close());
    QCOMPARE(kirt::test::fileContents(folder + QStringLiteral("kirt.ini")), written);
    QVERIFY(!QFile::exists(folder + QStringLiteral("last.kirt")));

    // A lock left by a process that has ended is taken over (no process has the largest id).
    first.reset();
    QFile lock(folder + QStringLiteral("kirt.lock"));
    QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write("2147483647\n") == 11);
    lock.close();
    QCOMPARE(windowOf(QStringLiteral("a"))->windowTitle(), QStringLiteral("Kirt [a] - Untitled"));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
