// The two Designer forms: names, classes, captions, items, defaults, and that every view fits
// the window at its minimum size.
#include "base/comsettings.h"
#include "tests/support/columns.h"
#include "tests/support/windowfixture.h"
#include "ui_Uabout.h"
#include "ui_Umain.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QtTest>

#include <memory>

namespace {

QString captionOf(QObject* o)
{
    if (auto* l = qobject_cast<QLabel*>(o))
        return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(o))
        return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(o))
        return g->title();
    if (auto* e = qobject_cast<QLineEdit*>(o))
        return e->text();
    if (auto* a = qobject_cast<QAction*>(o))
        return a->text();
    if (auto* m = qobject_cast<QMenu*>(o))
        return m->title();
    return QStringLiteral("<no caption>");
}

QStringList numbered(const QString& pattern, int first, int last)
{
    QStringList list;
    for (int i = first; i <= last; ++i)
        list << pattern.arg(i);
    return list;
}

// A menu as "text|shortcut" entries, separators as "-".
QStringList menuEntries(QMenu* menu)
{
    QStringList entries;
    for (QAction* a : menu->actions())
        entries << (a->isSeparator() ? QStringLiteral("-")
                                     : a->text() + u'|' + a->shortcut().toString());
    return entries;
}

} // namespace

class TestLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void controlClasses_data();
    void controlClasses();
    void captions_data();
    void captions();
    void comboBoxes_data();
    void comboBoxes();
    void menus();
    void settingsPages();
    void intervalSlider();
    void fonts();
    void viewsShareOneCell();
    void barsOverlapByOnePixel_data();
    void barsOverlapByOnePixel();
    void statusPanels_data();
    void statusPanels();
    void viewsFitMinimumWindow_data();
    void viewsFitMinimumWindow();

    void aboutBox();

private:
    template <typename T = QObject> T* control(const QString& name)
    {
        return kirt::test::find<T>(m_window.get(), name);
    }

    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<Ui::TFmain> m_ui;
};

void TestLayout::initTestCase()
{
    // As the program does, so that widths are measured with the font it draws with.
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
}

void TestLayout::init()
{
    m_window = std::make_unique<QMainWindow>();
    m_ui = std::make_unique<Ui::TFmain>();
    m_ui->setupUi(m_window.get());
}

void TestLayout::cleanup()
{
    m_ui.reset();
    m_window.reset();
}

void TestLayout::controlClasses_data()
{
    kirt::test::columns<QStringList, QString>({"names", "className"});

    kirt::test::row("bars",
                    QStringList{"Panel3", "Panel1", "InfoPanel1", "InfoPanel2", "DownloadPanel",
                                "StatusBar1", "ResponseMonitor"},
                    "QFrame");
    kirt::test::row("line edits",
                    numbered("TransmitEdit%1", 1, 9) + numbered("RxEdit%1", 1, 4) +
                        numbered("TxEdit%1", 1, 4),
                    "kirt::DataLineEdit");
    kirt::test::row("display", QStringList{"mMessage"}, "kirt::ReceiveDisplay");
    kirt::test::row("log buffer", QStringList{"TempEdit"}, "QPlainTextEdit");
    kirt::test::row("boards", QStringList{"BoardPanel1", "BoardPanel2"}, "QWidget");
    kirt::test::row("pages", QStringList{"OptionPageControl"}, "QTabWidget");
    kirt::test::row(
        "row boxes",
        numbered("TransmitFormatComboBox%1", 1, 9) + numbered("TransmitAutoComboBox%1", 1, 9) +
            numbered("CRLFComboBox%1", 1, 9) + numbered("ProtocolFormatComboBox%1", 1, 4) +
            numbered("ProtocolEnableComboBox%1", 1, 4),
        "QComboBox");
    kirt::test::row("groups",
                    numbered("ProtocolGroupBox%1", 1, 4) + QStringList{"GroupBox3", "GroupBox4"},
                    "QGroupBox");
    kirt::test::row("panels",
                    numbered("StatusPanel%1", 0, 4) + numbered("ResponseCountText%1", 1, 4) +
                        numbered("TransmitLabel%1", 1, 9) +
                        QStringList{"LengthDisplay", "CheckSumDisplay", "AutoTimeValue",
                                    "RxMemoryFull", "TrafficPanel", "CTSLamp", "DSRLamp", "DCDLamp",
                                    "RILamp", "FlowControlLabel"},
                    "QLabel");
    kirt::test::row("line buttons", QStringList{"DTRButton", "RTSButton", "BreakButton"},
                    "QToolButton");
    kirt::test::row("gauge", QStringList{"DownloadCGauge"}, "QProgressBar");
    kirt::test::row("slider", QStringList{"TrackBar1"}, "QSlider");
    kirt::test::row("new line char", QStringList{"NewLineCharEdit"}, "QLineEdit");
}

void TestLayout::controlClasses()
{
    QFETCH(QStringList, names);
    QFETCH(QString, className);
    for (const QString& name : names)
        QCOMPARE(QString::fromLatin1(control(name)->metaObject()->className()), className);
}

void TestLayout::captions_data()
{
    kirt::test::columns<QString, QString, bool>({"name", "caption", "enabled"});

    kirt::test::row("line 1 label", "TransmitLabel1", " No.1 [ALT+1]", true);
    for (int n = 2; n <= 9; ++n)
        QTest::addRow("line %d label", n) << QStringLiteral("TransmitLabel%1").arg(n)
                                          << QStringLiteral(" No.%1  [ALT+%1]").arg(n) << true;
    for (int n = 1; n <= 9; ++n)
        QTest::addRow("send button %d", n)
            << QStringLiteral("BitBtn%1").arg(8 + n) << QString::number(n) << true;
    const QList<std::pair<const char*, const char*>> crc = {{"Button1", "XOR"},
                                                            {"Button2", "ADD"},
                                                            {"Button3", ""},
                                                            {"Button4", ""},
                                                            {"Button5", "CRC-16"},
                                                            {"Button6", "CRC-16(Modbus)"},
                                                            {"Button7", "CRC-CCITT(XModem)"},
                                                            {"Button8", "HDLC"}};
    for (const auto& [name, caption] : crc)
        kirt::test::row(name, name, caption, false);
    for (int n = 1; n <= 4; ++n) {
        QTest::addRow("rule %d frame", n) << QStringLiteral("ProtocolGroupBox%1").arg(n)
                                          << QStringLiteral("Protocol No.%1").arg(n) << true;
        QTest::addRow("rule %d count", n)
            << QStringLiteral("ResponseCountText%1").arg(n)
            << QStringLiteral("Protocol No.%1 Response Count :").arg(n) << true;
    }
    const QList<std::pair<const char*, const char*>> plain = {
        {"COM_BitBtn", "COM OPEN"},
        {"CLEAR_BitBtn", "CLEAR"},
        {"ReceiveView_BitBtn", "DISPLAY"},
        {"OPTION_BitBtn", "SETTING"},
        {"EXIT_BitBtn", "EXIT"},
        {"BitBtn6", ""},
        {"SendStartBtn", "START"},
        {"SendStopBtn", "STOP"},
        {"TransmitDataView_BitBtn", "DATA TBL"},
        {"ProtocolData_BitBtn", "PROGRAM"},
        {"TerminalView_BitBtn", "TERM"},
        {"BitBtn19", ""},
        {"DownloadLabel", " Downloading"},
        {"RxMemoryFull", " Rx Memory Full"},
        {"TrafficPanel", " Display Traffic : 0%"},
        {"GroupBox3", "CRC Calculation (Mouse Drag Text choice)"},
        {"GroupBox4", "Auto Transmit Interval Setting"},
        {"AutoTimeValue", "500ms"},
        {"LengthDisplay", ""},
        {"CheckSumDisplay", ""},
        {"NewLineCharEdit", "00"},
        {"ShowSentLabel", "Show Sent Data"},
        {"SerialPortDeviceLabel", ""},
        {"ResponseMonitorHeader", "  Response Monitor"},
        {"TimeLogNote", "<If Display Format Code  is HEX, No Time Log>"},
        {"ConditionNote", "<If Display Format Code  is HEX, Every Byte Only Log>"}};
    for (const auto& [name, caption] : plain)
        kirt::test::row(name, name, caption, true);
}

void TestLayout::captions()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(bool, enabled);
    auto* w = control<QWidget>(name);
    QCOMPARE(captionOf(w), caption);
    QCOMPARE(w->isEnabled(), enabled);
}

void TestLayout::comboBoxes_data()
{
    kirt::test::columns<QString, QStringList, int, bool>({"name", "items", "index", "enabled"});

    const QStringList formats{"HEX", "ASC"};
    const QStringList onOff{"OFF", "ON"};
    for (int n = 1; n <= 9; ++n) {
        QTest::addRow("format %d", n)
            << QStringLiteral("TransmitFormatComboBox%1").arg(n) << formats << 0 << true;
        QTest::addRow("auto %d", n)
            << QStringLiteral("TransmitAutoComboBox%1").arg(n) << onOff << 0 << true;
        QTest::addRow("crlf %d", n)
            << QStringLiteral("CRLFComboBox%1").arg(n) << onOff << 0 << true;
    }
    for (int n = 1; n <= 4; ++n) {
        QTest::addRow("rule format %d", n)
            << QStringLiteral("ProtocolFormatComboBox%1").arg(n) << formats << 0 << true;
        QTest::addRow("rule enable %d", n)
            << QStringLiteral("ProtocolEnableComboBox%1").arg(n) << onOff << 0 << true;
    }
    QStringList timeouts;
    for (int ms :
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 200, 300, 400, 500})
        timeouts << QStringLiteral("%1ms").arg(ms);

    kirt::test::row("port", "SerialPortComboBox", numbered("COM%1", 1, 30), -1, true);
    // The box's items are the rates its index picks from the table, then the typed-in rate.
    QStringList rates;
    for (const std::uint32_t rate : kirt::BaudRateTable)
        rates << QString::number(rate);
    kirt::test::row("baud", "BaudRateComboBox", rates + QStringList{"Custom..."}, 12, true);
    kirt::test::row("flow control", "FlowControlComboBox",
                    QStringList{"NONE", "RTS/CTS", "XON/XOFF"}, 0, true);
    kirt::test::row("data bits", "DataBitsComboBox", QStringList{"4", "5", "6", "7", "8"}, 4, true);
    kirt::test::row("stop bits", "StopBitsComboBox", QStringList{"1", "1.5", "2"}, 0, true);
    kirt::test::row("parity", "ParityBitsComboBox",
                    QStringList{"NONE", "ODD", "EVEN", "MARK", "SPACE"}, 0, true);
    kirt::test::row("display format", "DisplayFormatComboBox", formats, 0, true);
    kirt::test::row("timeout", "TimeOutComboBox", timeouts, 1, true);
    kirt::test::row("echo", "EchoOnOffComboBox", onOff, 0, true);
    kirt::test::row("show sent", "ShowSentComboBox", onOff, 0, true);
    kirt::test::row("scroll bar", "ScrollBarComboBox", QStringList{"None", "Vertical"}, 0, true);
    kirt::test::row("line limit", "LineLimitComboBox",
                    QStringList{"Default", "50", "100", "200", "300", "400", "500", "600", "700",
                                "800", "900", "1000", "2000", "3000", "4000", "5000"},
                    0, false);
    kirt::test::row("colour", "ColorComboBox", QStringList{"White", "Black"}, 0, true);
    kirt::test::row("time log", "TimeLogComboBox", onOff, 0, true);
    kirt::test::row("condition", "ConditionComboBox", QStringList{"Every Byte", "CR", "LF"}, 0,
                    false);
    kirt::test::row("time stamp", "TimeStampComboBox", QStringList{"OFF", "TIME", "DELTA"}, 0,
                    true);
    kirt::test::row("gap split", "GapSplitComboBox",
                    QStringList{"OFF", "5 ms", "10 ms", "20 ms", "50 ms", "100 ms", "500 ms"}, 0,
                    true);
    kirt::test::row("follow", "FollowComboBox", QStringList{"ALWAYS", "AT END"}, 0, true);
    kirt::test::row("xmodem block", "XmodemBlockComboBox", QStringList{"128", "1K"}, 0, true);
}

void TestLayout::comboBoxes()
{
    QFETCH(QString, name);
    QFETCH(QStringList, items);
    QFETCH(int, index);
    QFETCH(bool, enabled);
    auto* box = control<QComboBox>(name);
    QStringList actual;
    for (int i = 0; i < box->count(); ++i)
        actual << box->itemText(i);
    QCOMPARE(actual, items);
    QCOMPARE(box->currentIndex(), index);
    QCOMPARE(box->isEnabled(), enabled);
    QVERIFY2(!box->isEditable(), "lists only: typed text must never become a setting");
}

void TestLayout::menus()
{
    const QList<QAction*> top = control<QMenuBar>("MainMenu")->actions();
    QCOMPARE(top.size(), 4);
    QCOMPARE(top[0]->menu(), control<QMenu>("File1"));
    QCOMPARE(top[1]->menu(), control<QMenu>("Edit1"));
    QCOMPARE(top[2]->menu(), control<QMenu>("Tools1"));
    QCOMPARE(top[3]->menu(), control<QMenu>("Help1"));
    QCOMPARE(captionOf(control("Tools1")), "Tools(&T)");
    QCOMPARE(menuEntries(control<QMenu>("Tools1")),
             (QStringList{"Run Script...(&U)|", "Stop Script(&T)|"}));
    QCOMPARE(captionOf(control("File1")), "File(&F)");
    QCOMPARE(captionOf(control("Help1")), "Help(&H)");
    QCOMPARE(menuEntries(control<QMenu>("File1")),
             (QStringList{
                 "Open(&O)|Ctrl+O", "Save(&S)|Ctrl+S", "Save As...(&A)|Ctrl+A",
                 "Real Time Save(&R)|Ctrl+R", "-", "Print(&P)|Ctrl+P", "Open Workbench...|",
                 "Save Workbench...|", "Keep Lines Between Runs|", "-", "Send with XMODEM...|",
                 "Send with YMODEM...|", "Send with ZMODEM...|", "Receive with XMODEM...|",
                 "Receive with YMODEM...|", "Receive with ZMODEM...|", "-", "Exit(&X)|Ctrl+X"}));
    QCOMPARE(menuEntries(control<QMenu>("Help1")),
             (QStringList{"Help(&H)|Ctrl+H", "About(&I)|Ctrl+I"}));
    // The handlers find their items by these names.
    const QStringList actions{"FileOpen",   "FileSave",      "FileSaveAs",      "RunTimeSave1",
                              "FilePrint",  "WorkbenchOpen", "WorkbenchSave",   "Exit",
                              "UserMamual", "About",         "RunScriptAction", "StopScriptAction"};
    const QStringList transfers{"SendXmodemAction",    "SendYmodemAction",
                                "SendZmodemAction",    "ReceiveXmodemAction",
                                "ReceiveYmodemAction", "ReceiveZmodemAction"};
    for (const QString& name : actions + transfers)
        QVERIFY2(m_window->findChild<QAction*>(name), qPrintable(name));
}

void TestLayout::settingsPages()
{
    auto* pages = control<QTabWidget>("OptionPageControl");
    const QStringList titles{"Serial Port Setting", "New Line Char", "Echo",
                             "Display Buffer Setting", "Run Time Save Setting(Log File)"};
    QCOMPARE(pages->count(), titles.size());
    for (int i = 0; i < pages->count(); ++i) {
        QCOMPARE(pages->tabText(i), titles[i]);
        QCOMPARE(pages->widget(i)->objectName(), QStringLiteral("TabSheet%1").arg(i + 1));
    }
    QCOMPARE(pages->currentIndex(), 0);

    // Each setting sits on its own page.
    const QList<std::pair<const char*, int>> homes = {
        {"SerialPortComboBox", 0}, {"TimeOutComboBox", 0},   {"DisplayFormatComboBox", 0},
        {"NewLineCharEdit", 1},    {"EchoOnOffComboBox", 2}, {"ScrollBarComboBox", 3},
        {"LineLimitComboBox", 3},  {"ColorComboBox", 3},     {"TimeLogComboBox", 4},
        {"ConditionComboBox", 4},  {"ShowSentComboBox", 2},  {"TimeStampComboBox", 3},
        {"GapSplitComboBox", 3},   {"FollowComboBox", 3},    {"XmodemBlockComboBox", 0}};
    for (const auto& [name, page] : homes)
        QVERIFY2(pages->widget(page)->isAncestorOf(control<QWidget>(name)), name);
}

void TestLayout::intervalSlider()
{
    auto* slider = control<QSlider>("TrackBar1");
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), 15);
    QCOMPARE(slider->value(), 6);
    QCOMPARE(slider->singleStep(), 1);
    QCOMPARE(slider->pageStep(), 1);
    QCOMPARE(slider->tickPosition(), QSlider::TicksBothSides);
    QVERIFY(control<QWidget>("GroupBox4")->isAncestorOf(slider));
    QVERIFY(control<QWidget>("GroupBox4")->isAncestorOf(control<QWidget>("AutoTimeValue")));
    for (int n = 1; n <= 8; ++n)
        QVERIFY(control<QWidget>("GroupBox3")
                    ->isAncestorOf(control<QWidget>(QStringLiteral("Button%1").arg(n))));
}

void TestLayout::fonts()
{
    const QList<QWidget*> courier{m_window.get(), control<QWidget>("mMessage"),
                                  control<QWidget>("TempEdit"), control<QWidget>("TransmitEdit5"),
                                  control<QWidget>("RxEdit2")};
    for (QWidget* w : courier) {
        QCOMPARE(w->font().family(), QStringLiteral("Courier New"));
        QCOMPARE(w->font().pointSize(), 10);
    }
    QVERIFY(control<QWidget>("COM_BitBtn")->font().bold());
    QVERIFY(!control<QWidget>("CLEAR_BitBtn")->font().bold());

    auto* display = control<QPlainTextEdit>("mMessage");
    QCOMPARE(display->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(display->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(!display->isUndoRedoEnabled());
}

void TestLayout::viewsShareOneCell()
{
    auto* grid = qobject_cast<QGridLayout*>(control<QWidget>("ClientArea")->layout());
    QVERIFY(grid);
    for (const char* name :
         {"mMessage", "BoardPanel1", "BoardPanel2", "OptionPageControl", "TempEdit"}) {
        const int at = grid->indexOf(control<QWidget>(name));
        QVERIFY2(at >= 0, name);
        int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(at, &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(std::tuple(row, column, rowSpan, columnSpan), std::tuple(1, 0, 1, 1));
    }
    // Row 0 is the search bar's, made by the window.
    QCOMPARE(grid->itemAtPosition(0, 0), nullptr);
}

void TestLayout::barsOverlapByOnePixel_data()
{
    kirt::test::columns<QStringList, int>({"buttons", "height"});

    kirt::test::row("command bar",
                    QStringList{"COM_BitBtn", "CLEAR_BitBtn", "ReceiveView_BitBtn", "OPTION_BitBtn",
                                "EXIT_BitBtn", "BitBtn6", "SendStartBtn", "SendStopBtn"},
                    27);
    kirt::test::row("line bar",
                    numbered("BitBtn%1", 9, 17) +
                        QStringList{"TransmitDataView_BitBtn", "ProtocolData_BitBtn",
                                    "PlotView_BitBtn", "TerminalView_BitBtn", "BitBtn19"},
                    22);
}

void TestLayout::barsOverlapByOnePixel()
{
    QFETCH(QStringList, buttons);
    QFETCH(int, height);
    // The resize handlers move the fillers from these positions; the designed width is 800.
    int expectedLeft = 2;
    for (const QString& name : buttons) {
        const QRect r = control<QWidget>(name)->geometry();
        QCOMPARE(r.left(), expectedLeft);
        QCOMPARE(r.height(), height);
        expectedLeft = r.left() + r.width() - 1;
    }
    QCOMPARE(expectedLeft + 1, 800 - 2);
    QCOMPARE(control<QWidget>("BitBtn6")->focusPolicy(), Qt::NoFocus);
    QCOMPARE(control<QWidget>("BitBtn19")->focusPolicy(), Qt::NoFocus);
}

void TestLayout::statusPanels_data()
{
    kirt::test::columns<int, int, QString, QString>({"panel", "width", "text", "longest"});

    // The longest texts the status line can produce must stay readable in the fixed widths.
    kirt::test::row("0", 0, 210, "Serial Setting Value :", "PORT : COM30, 115200, 8, 1.5, SPACE");
    kirt::test::row("1", 1, 140, "Display Format Code :", "Display Format : ASC");
    kirt::test::row("2", 2, 140, "New Line Char :", "New Line Char : OFF");
    kirt::test::row("3", 3, 80, "Echo :", "Echo : OFF");
    kirt::test::row("4", 4, 200, "Interval Time :", "Auto Interval : 5000ms Group [9]");
}

void TestLayout::statusPanels()
{
    QFETCH(int, panel);
    QFETCH(int, width);
    QFETCH(QString, text);
    QFETCH(QString, longest);
    auto* label = control<QLabel>(QStringLiteral("StatusPanel%1").arg(panel));
    QVERIFY(control<QWidget>("StatusBar1")->isAncestorOf(label));
    QCOMPARE(label->text(), text);
    QCOMPARE(label->minimumWidth(), width);
    QCOMPARE(label->maximumWidth(), width);
    label->setText(longest);
    QVERIFY2(label->minimumSizeHint().width() <= width, qPrintable(longest));
}

void TestLayout::viewsFitMinimumWindow_data()
{
    kirt::test::columns<QString, bool, int>({"view", "infoBar", "page"});

    QTest::newRow("display") << "mMessage" << true << 0;
    QTest::newRow("transmit board") << "BoardPanel1" << false << 0;
    QTest::newRow("protocol board") << "BoardPanel2" << false << 0;
    for (int page = 0; page < 5; ++page)
        QTest::addRow("settings page %d", page + 1) << "OptionPageControl" << true << page;
    // With every label of the bar showing at once, the line controls still fit at its right.
    QTest::newRow("information bar") << "InfoPanel1" << true << 0;
}

void TestLayout::viewsFitMinimumWindow()
{
    QFETCH(QString, view);
    QFETCH(bool, infoBar);
    QFETCH(int, page);

    QCOMPARE(m_window->minimumSize(), QSize(800, 600));
    m_window->resize(800, 600);
    for (const char* name :
         {"mMessage", "BoardPanel1", "BoardPanel2", "OptionPageControl", "TempEdit"})
        control<QWidget>(name)->setVisible(view == QLatin1String(name));
    control<QWidget>("InfoPanel1")->setVisible(infoBar);
    control<QTabWidget>("OptionPageControl")->setCurrentIndex(page);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QCoreApplication::processEvents();
    QCOMPARE(m_window->size(), QSize(800, 600));

    auto* root = control<QWidget>(view);
    if (auto* pages = qobject_cast<QTabWidget*>(root))
        QVERIFY2(pages->tabBar()->sizeHint().width() <= pages->width(),
                 "every settings tab visible without scrolling");

    QList<QWidget*> controls;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const bool relevant = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                              qobject_cast<QComboBox*>(w) || qobject_cast<QPlainTextEdit*>(w) ||
                              qobject_cast<QLineEdit*>(w) || qobject_cast<QSlider*>(w) ||
                              qobject_cast<QGroupBox*>(w);
        if (relevant && w->isVisibleTo(m_window.get()) && w->window() == m_window.get())
            controls << w;
    }
    QVERIFY(!controls.isEmpty() || qobject_cast<QPlainTextEdit*>(root));

    const QRect area = root->rect();
    for (QWidget* w : controls) {
        const QRect r(w->mapTo(root, QPoint(0, 0)), w->size());
        QVERIFY2(area.contains(r), qPrintable(w->objectName() + " runs out of its view"));
        const QSize need = w->minimumSizeHint();
        QVERIFY2(w->width() >= need.width() && w->height() >= need.height(),
                 qPrintable(w->objectName() + " is squeezed" +
                            QStringLiteral(" %1x%2 < %3x%4")
                                .arg(w->width())
                                .arg(w->height())
                                .arg(need.width())
                                .arg(need.height())));
    }
    for (int i = 0; i < controls.size(); ++i) {
        for (int j = i + 1; j < controls.size(); ++j) {
            QWidget* a = controls[i];
            QWidget* b = controls[j];
            if (a->isAncestorOf(b) || b->isAncestorOf(a))
                continue;
            const QRect ra(a->mapTo(root, QPoint(0, 0)), a->size());
            const QRect rb(b->mapTo(root, QPoint(0, 0)), b->size());
            QVERIFY2(!ra.intersects(rb),
                     qPrintable(a->objectName() + " overlaps " + b->objectName()));
        }
    }
}

void TestLayout::aboutBox()
{
    QDialog dialog;
    Ui::Tabout ui;
    ui.setupUi(&dialog);
    QCOMPARE(dialog.objectName(), QStringLiteral("about"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("About"));
    QCOMPARE(dialog.minimumSize(), QSize(412, 223));
    QCOMPARE(dialog.maximumSize(), QSize(412, 223));

    QCOMPARE(ui.Label1->text(), QStringLiteral("Kirt Ver3.10"));
    QCOMPARE(ui.Label5->text(), QStringLiteral("Physical Memory Available to Windows :"));
    QCOMPARE(ui.Label6->text(), QStringLiteral("Memory in Use :"));
    QCOMPARE(ui.PhysMem->text(), QStringLiteral("0"));
    QCOMPARE(ui.FreeRes->text(), QStringLiteral("0"));
    QCOMPARE(ui.OKButton->text(), QStringLiteral("OK"));
    QVERIFY(ui.OKButton->isDefault());
    QCOMPARE(ui.Label7->cursor().shape(), Qt::PointingHandCursor);

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    for (auto [label, pixels] : {std::pair{ui.Label1, 13}, std::pair{ui.Label7, 16}}) {
        QVERIFY(label->font().bold());
        QCOMPARE(label->font().pixelSize(), pixels);
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::blue));
    }

    // Top to bottom, and the memory figures right of their captions with OK beside them.
    const QList<QWidget*> order{ui.Label1, ui.Label2, ui.Label3, ui.Label4,
                                ui.Label7, ui.Panel1, ui.Label5, ui.Label6};
    for (int i = 1; i < order.size(); ++i)
        QVERIFY2(order[i - 1]->geometry().bottom() < order[i]->geometry().top(),
                 qPrintable(order[i]->objectName()));
    QVERIFY(ui.PhysMem->geometry().left() > ui.Label5->geometry().right());
    QVERIFY(ui.FreeRes->geometry().left() > ui.Label6->geometry().right());
    QVERIFY(ui.OKButton->geometry().left() > ui.PhysMem->geometry().left());
    QVERIFY(ui.OKButton->geometry().top() > ui.Panel1->geometry().bottom());
    for (QWidget* w : dialog.findChildren<QWidget*>())
        QVERIFY2(dialog.rect().contains(w->geometry()), qPrintable(w->objectName()));
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
