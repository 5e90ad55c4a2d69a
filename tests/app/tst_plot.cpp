// The plot view: brought to the front by its button and F8, collecting whether it is in front
// or not, still collecting while paused, clearing, exporting every point, never into a FIFO.
#include "tests/support/windowfixture.h"
#include "ui/plotpanel.h"
#include "ui/receivedisplay.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <qcustomplot.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using kirt::PtyDevice;
using kirt::test::WindowFixture;

class TestPlot : public QObject
{
    Q_OBJECT

private slots:
    void collectsHiddenAndPausedAndExports();
    void viewTravelsWithTheWorkbench();
};

void TestPlot::collectsHiddenAndPausedAndExports()
{
    WindowFixture f(WindowFixture::Device::Pty);
    QVERIFY(f.showActive());
    QVERIFY(f.openPort());
    auto* panel = f.find<QWidget>(QStringLiteral("PlotPanel"));
    auto* skipped = f.find<QLabel>(QStringLiteral("PlotSkippedLabel"));
    QVERIFY(!panel->isVisible());

    // Hidden, it collects; the display goes on receiving. A board's first line after a pause
    // is kept; the columns of a junk line name no series.
    QTest::qWait(100);
    QVERIFY(f.device().send("a:1,b:2\r\nBOOT OK v2\r\nb:3\r\n"));
    QVERIFY(PtyDevice::waitUntil([&] { return f.display()->displayText().contains("b:3"); }));
    f.press(Qt::Key_F8);
    QVERIFY(panel->isVisible());
    QVERIFY(f.find<QWidget>(QStringLiteral("InfoPanel1"))->isVisible());
    QVERIFY(PtyDevice::waitUntil([&] { return skipped->text() == QStringLiteral("skipped: 1"); }));
    QCOMPARE(static_cast<kirt::PlotPanel*>(panel)->plot()->legend->itemCount(), 2);

    // Paused, the caption names RUN and collection goes on.
    auto* pause = f.find<QPushButton>(QStringLiteral("PlotPauseButton"));
    pause->click();
    QCOMPARE(pause->text(), QStringLiteral("RUN"));
    QVERIFY(f.device().send("a:4\r\n"));
    QVERIFY(PtyDevice::waitUntil([&] { return f.display()->displayText().contains("a:4"); }));
    pause->click();
    QCOMPARE(pause->text(), QStringLiteral("PAUSE"));

    const QString csv = f.file(QStringLiteral("points.csv"));
    f.answers.paths.push_back(csv);
    f.click(QStringLiteral("PlotExportButton"));
    QFile out(csv);
    QVERIFY(out.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = out.readAll().split('\n');
    QCOMPARE(lines.value(0), QByteArray("time,a,b"));
    QCOMPARE(lines.size(), 5); // header, three samples, the empty end
    QVERIFY(lines[1].endsWith(",1,2") && lines[2].endsWith(",,3") && lines[3].endsWith(",4,"));

    // A FIFO is refused unopened: nothing waits for a reader, nothing reaches one.
    const QByteArray fifo = QFile::encodeName(f.file(QStringLiteral("plot.png")));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    f.answers.paths.push_back(QFile::decodeName(fifo));
    f.click(QStringLiteral("PlotExportButton"));
    char byte = 0;
    QCOMPARE(::read(reader, &byte, 1), ssize_t(0));
    ::close(reader);
    QVERIFY(f.answers.details.value(0).contains(QLatin1String("FIFO")));

    f.click(QStringLiteral("PlotClearButton"));
    QCOMPARE(skipped->text(), QStringLiteral("skipped: 0"));
    QVERIFY(f.display()->displayText().contains("a:4")); // the display is left alone

    f.click(QStringLiteral("ReceiveView_BitBtn"));
    QVERIFY(!panel->isVisible());
    f.click(QStringLiteral("PlotView_BitBtn"));
    QVERIFY(panel->isVisible());
}

void TestPlot::viewTravelsWithTheWorkbench()
{
    WindowFixture f(WindowFixture::Device::Pty);
    QVERIFY(f.showActive());
    QVERIFY(f.openPort());
    f.press(Qt::Key_F8);
    QCustomPlot* plot = f.find<kirt::PlotPanel>(QStringLiteral("PlotPanel"))->plot();
    QVERIFY(f.device().send("\nsine:1,noise:5\n"));
    QVERIFY(PtyDevice::waitUntil([&] { return plot->graphCount() == 2; }));
    plot->replot(); // the legend's place is known once drawn
    QTest::mouseClick(plot, Qt::LeftButton, {}, plot->legend->item(1)->outerRect().center());
    QVERIFY(!plot->graph(1)->visible());
    f.choose("PlotXComboBox", 1);
    f.choose("PlotWindowComboBox", 3);
    f.choose("PlotYComboBox", 1);
    for (const auto& [edit, text] : {std::pair{"PlotYMinEdit", "-2.5"}, {"PlotYMaxEdit", "40"}}) {
        auto* line = f.find<QLineEdit>(QString::fromLatin1(edit));
        line->clear();
        QTest::keyClicks(line, QString::fromLatin1(text));
        QTest::keyClick(line, Qt::Key_Return);
    }
    QCOMPARE(plot->yAxis->range(), QCPRange(-2.5, 40));

    const QString path = f.file(QStringLiteral("plot.kirt"));
    f.answers.paths.push_back(path);
    f.triggerAction("WorkbenchSave");
    f.destroyWindow();
    f.answers.paths.push_back(path);
    f.triggerAction("WorkbenchOpen");
    QVERIFY2(f.answers.errors.isEmpty(), qPrintable(f.answers.details.join(u'|')));
    QCOMPARE(f.find<QComboBox>("PlotXComboBox")->currentIndex(), 1);
    QCOMPARE(f.find<QComboBox>("PlotWindowComboBox")->currentIndex(), 3);
    QCOMPARE(f.find<QComboBox>("PlotYComboBox")->currentIndex(), 1);
    QCOMPARE(f.find<QLineEdit>("PlotYMinEdit")->text(), QStringLiteral("-2.5"));

    // The series hidden by name stays hidden when it appears in the new window.
    QVERIFY(f.showActive());
    QVERIFY(f.openPort());
    f.press(Qt::Key_F8);
    plot = f.find<kirt::PlotPanel>(QStringLiteral("PlotPanel"))->plot();
    QVERIFY(f.device().send("\nsine:1,noise:5\nsine:2,noise:6\n"));
    QVERIFY(PtyDevice::waitUntil([&] { return plot->graphCount() == 2; }));
    QVERIFY(plot->graph(0)->visible() && !plot->graph(1)->visible());
    QCOMPARE(plot->yAxis->range(), QCPRange(-2.5, 40));
}

QTEST_MAIN(TestPlot)
#include "tst_plot.moc"
