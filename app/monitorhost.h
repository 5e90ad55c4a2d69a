#pragma once

#include "session/portcontroller.h"

#include <QObject>
#include <QString>

#include <memory>

class QTimer;
class QWidget;
namespace Ui {
class TFmain;
}

namespace kirt {

// The monitor port of the window: a second port, chosen on the SETTING page, opened with the
// COM button's port and its line settings and only read. Its bytes go into the port's display
// and log, merged in the order they were read, each row named by its port; nothing is ever
// written to it and its DTR and RTS stay off. Its loss, return and failures are told on the
// information bar; the port itself goes on whatever happens to the monitor.
class MonitorHost final : public QObject
{
    Q_OBJECT

public:
    MonitorHost(QWidget& window, Ui::TFmain& ui, PortController& port);
    ~MonitorHost() override;

    // The COM button opened the port: the monitor opens too, when one is chosen.
    void portOpened();
    void close();
    // The device folders changed: a lost monitor may be back.
    void checkDevice();
    PortController& controller() { return m_monitor; }

private:
    void chosen();
    void opened(const OpenResult& result);
    void show(const QString& text, bool forAWhile = false);
    QString chosenName() const;

    QWidget& m_window;
    Ui::TFmain& m_ui;
    PortController& m_port;
    PortController m_monitor;
    QTimer* m_shownFor = nullptr;
};

} // namespace kirt
