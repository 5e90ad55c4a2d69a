// Find in a full receive display: the median time of one Next over 5000 stamped HEX rows, the
// whole step (the display's rows joined, searched, the match mapped and selected). Prints its
// figures; asserts nothing.
//   bench_search [samples]     (default 50)
#include "tests/support/controls.h"
#include "ui/receivedisplay.h"
#include "ui/searchbar.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(1, QString::fromLatin1(argv[1]).toInt()) : 50;

    QWidget window;
    auto* display = new kirt::ReceiveDisplay(&window);
    auto* bar = new kirt::SearchBar(display, &window);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(display);
    layout->addWidget(bar);
    window.resize(800, 600);
    window.show();
    QCoreApplication::processEvents();

    // Rows of 22 bytes after a stamp, each ending in 0D and the next starting with 0A, so
    // every match reaches over a line end and a stamp.
    QString row = QStringLiteral("[12:03:04.005] 0A");
    for (int i = 0x10; i < 0x24; ++i)
        row += QStringLiteral(" %1").arg(i, 2, 16).toUpper();
    row += QStringLiteral(" 0D \n");
    display->setDisplayText(row.repeated(5000));
    bar->setHexDisplay(true);
    bar->openBar();
    kirt::test::find<QLineEdit>(bar, QStringLiteral("SearchEdit"))->setText(QStringLiteral("0D0A"));

    std::vector<double> times;
    for (int i = 0; i < samples; ++i) {
        QElapsedTimer timer;
        timer.start();
        bar->findNext();
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "%d rows, %d columns: Next %.2f ms median, %.2f ms most (%s)\n",
        static_cast<int>(display->rowCount()), display->columns(), times[times.size() / 2],
        times.back(),
        qPrintable(kirt::test::find<QLabel>(bar, QStringLiteral("SearchCountLabel"))->text()));
    return 0;
}
