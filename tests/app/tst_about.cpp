// The About box opened from the window, and the memory figures it shows.
#include "app/Uabout.h"
#include "app/logic/memorystatus.h"
#include "tests/support/windowfixture.h"
#include "ui/receivedisplay.h"

#include <QDesktopServices>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <functional>

using kirt::test::find;
using kirt::test::WindowFixture;

namespace {

// What a test saw of the box while it was open.
struct Seen
{
    QPointer<Tabout> box;
    bool wasGlobal = false;
    QString physMem;
    QString freeRes;
    QSize size;
    QString title;
};

// Runs `whileOpen` once the modal box is up, then `open` returns after the box closed. A box
// still open after `whileOpen` is closed, so a failing step cannot hang the test.
Seen openAbout(const std::function<void()>& open, const std::function<void(Tabout*)>& whileOpen)
{
    Seen seen;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<Tabout*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen.box = box;
        seen.wasGlobal = about == box;
        seen.physMem = find<QLabel>(box, "PhysMem")->text();
        seen.freeRes = find<QLabel>(box, "FreeRes")->text();
        seen.size = box->size();
        seen.title = box->windowTitle();
        if (QTest::qWaitForWindowActive(box))
            whileOpen(box);
        if (seen.box && seen.box->isVisible())
            seen.box->reject();
    });
    open();
    return seen;
}

// Where a key typed into the open box goes.
QWidget* keyTarget(Tabout* box)
{
    return box->focusWidget() ? box->focusWidget() : box;
}

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT

public slots:
    void openUrl(const QUrl& url) { m_opened << url; }

private slots:
    void memInfoParsing();
    void figureTexts();
    void boxOpensFreshAndClosesWithEnterAndEsc();
    void keysInTheBoxStayThere();
    void linkOpensThePage();
    void largeFiguresFitBesideTheirCaptions();

private:
    QList<QUrl> m_opened;
};

void TestAbout::memInfoParsing()
{
    const QByteArray modern = "MemTotal:        8000000 kB\n"
                              "MemFree:          500000 kB\n"
                              "MemAvailable:    2000000 kB\n"
                              "Buffers:          100000 kB\n"
                              "Cached:          1000000 kB\n";
    kirt::MemoryStatus s = kirt::ParseMemInfo(modern);
    QCOMPARE(s.totalBytes, 8000000ull * 1024);
    QCOMPARE(s.loadPercent, 75u);

    // Without MemAvailable, free memory and the caches count as available.
    const QByteArray old = "MemTotal: 1000 kB\nMemFree: 100 kB\nBuffers: 50 kB\nCached: 150 kB\n";
    s = kirt::ParseMemInfo(old);
    QCOMPARE(s.totalBytes, 1000ull * 1024);
    QCOMPARE(s.loadPercent, 70u);

    // Nothing readable: zeros, never a division by zero.
    s = kirt::ParseMemInfo("garbage\nMemTotal: x kB\n");
    QCOMPARE(s.totalBytes, 0ull);
    QCOMPARE(s.loadPercent, 0u);

    // The machine's own figures are plausible.
    s = kirt::ReadMemoryStatus();
    QVERIFY(s.totalBytes > 0);
    QVERIFY(s.loadPercent <= 100);
}

void TestAbout::figureTexts()
{
    const std::uint64_t twoGiB = 2147483648ull;
    QCOMPARE(kirt::PhysicalMemoryText(twoGiB, QLocale::c()), QStringLiteral("2,097,152 KB"));
    QCOMPARE(kirt::PhysicalMemoryText(twoGiB, QLocale(QLocale::German, QLocale::Germany)),
             QStringLiteral("2.097.152 KB"));
    // Bytes below a whole KB are dropped, and a figure under 1000 has no separator.
    QCOMPARE(kirt::PhysicalMemoryText(999 * 1024 + 1023, QLocale::c()), QStringLiteral("999 KB"));
    QCOMPARE(kirt::PhysicalMemoryText(1000 * 1024, QLocale::c()), QStringLiteral("1,000 KB"));
    QCOMPARE(kirt::PhysicalMemoryText(0, QLocale::c()), QStringLiteral(" KB"));
    QCOMPARE(kirt::MemoryLoadText(37), QStringLiteral("37 %"));
    QCOMPARE(kirt::MemoryLoadText(100), QStringLiteral("100 %"));
}

void TestAbout::boxOpensFreshAndClosesWithEnterAndEsc()
{
    WindowFixture f;
    QVERIFY(f.showActive());

    const QString total = kirt::PhysicalMemoryText(kirt::ReadMemoryStatus().totalBytes);
    const QRegularExpression load(QStringLiteral("^\\d{1,3} %$"));

    // Ctrl+I from the display; Esc closes the box.
    bool closedByKey = false;
    Seen first = openAbout([&] { f.press(Qt::Key_I, Qt::ControlModifier); },
                           [&](Tabout* box) {
                               QTest::keyClick(keyTarget(box), Qt::Key_Escape);
                               closedByKey = !box->isVisible();
                           });
    QVERIFY(first.wasGlobal);
    QVERIFY(closedByKey);
    QCOMPARE(first.physMem, total);
    QVERIFY2(load.match(first.freeRes).hasMatch(), qPrintable(first.freeRes));
    QCOMPARE(first.title, QStringLiteral("About"));
    QCOMPARE(first.size, QSize(412, 223));
    // Destroyed once closed; the global no longer points at it.
    QVERIFY(first.box.isNull());
    QCOMPARE(about, nullptr);

    // A second opening is a new box with freshly read figures; Enter closes it.
    closedByKey = false;
    Seen second = openAbout([&] { f.triggerAction("About"); },
                            [&](Tabout* box) {
                                QTest::keyClick(keyTarget(box), Qt::Key_Return);
                                closedByKey = !box->isVisible();
                            });
    QVERIFY(closedByKey);
    QCOMPARE(second.physMem, total);
    QVERIFY(load.match(second.freeRes).hasMatch());
    QVERIFY(second.box.isNull());
    QVERIFY(f.window().isVisible());
}

void TestAbout::keysInTheBoxStayThere()
{
    WindowFixture f;
    QVERIFY(f.showActive());
    kirt::ReceiveDisplay* display = f.display();
    display->appendData(QStringLiteral("kept"));

    // The window's keys are not previewed while its modal box has them.
    bool stillOpen = false;
    bool closedByEsc = false;
    openAbout([&] { f.triggerAction("About"); },
              [&](Tabout* box) {
                  QTest::keyClick(keyTarget(box), Qt::Key_F3);
                  QTest::keyClick(keyTarget(box), Qt::Key_F10);
                  stillOpen = box->isVisible();
                  QTest::keyClick(keyTarget(box), Qt::Key_Escape);
                  closedByEsc = !box->isVisible();
              });
    QVERIFY(stillOpen);
    QVERIFY(closedByEsc);
    QCOMPARE(display->displayText(), QStringLiteral("kept"));
    QVERIFY(f.window().isVisible());
}

void TestAbout::linkOpensThePage()
{
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
    m_opened.clear();
    Tabout box;
    box.show();
    auto* link = find<QLabel>(&box, "Label7");
    QVERIFY(QUrl(link->text()).isValid());
    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(m_opened, QList<QUrl>{QUrl(link->text())});
    // Other controls open nothing.
    QTest::mouseClick(find<QLabel>(&box, "Label2"), Qt::LeftButton);
    QCOMPARE(m_opened.size(), 1);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

void TestAbout::largeFiguresFitBesideTheirCaptions()
{
    Tabout box;
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    // A machine with a terabyte of memory, in a box of fixed size.
    auto* figure = find<QLabel>(&box, "PhysMem");
    figure->setText(kirt::PhysicalMemoryText(1ull << 40, QLocale::c()));
    box.layout()->activate();
    for (const char* name : {"Label5", "PhysMem", "Label6", "FreeRes"}) {
        auto* label = find<QLabel>(&box, QLatin1String(name));
        QVERIFY2(label->width() >= label->sizeHint().width(),
                 qPrintable(QStringLiteral("%1 %2 < %3")
                                .arg(QLatin1String(name))
                                .arg(label->width())
                                .arg(label->sizeHint().width())));
    }
    auto* ok = find<QPushButton>(&box, "OKButton");
    QVERIFY(ok->geometry().left() > figure->geometry().right());
    QVERIFY(box.rect().contains(ok->geometry()));
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
