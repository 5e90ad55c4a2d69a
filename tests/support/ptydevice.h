#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace kirt {

// A pseudo-terminal playing the device behind a COM port. The program opens the slave
// through the port map (KIRT_COMn points at it, or a link in the port-map folder); the test
// talks on the master.
//
// A pseudo-terminal forces 8 data bits and no parity and has no modem lines, and the kernel
// ignores the exclusive flag for root: test those through the pure termios step or as a
// normal user.
class PtyDevice
{
public:
    enum class Mapping { Variable, Link };
    explicit PtyDevice(int comNumber = 1, Mapping mapping = Mapping::Variable);
    ~PtyDevice();

    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    bool isValid() const { return m_master >= 0; }
    QString portName() const; // "COMn"
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }
    // Bytes sent to the program that it has not read yet.
    int pendingForProgram() const;

    // Writes every byte to the program, serving the main thread's events while the
    // terminal's queue is full. False if the master is closed or a write failed.
    bool send(const QByteArray& bytes, int timeoutMs = 10000);

    // What the program wrote: returns once at least atLeast bytes have come or timeoutMs has
    // passed, with everything read so far. Serves events while it waits.
    QByteArray receive(int atLeast, int timeoutMs = 2000);

    // The device disappears: the program's reads fail from now on.
    void closeMaster();
    // A fresh pair for the same port. With remap the mapping is made anew to lead to it, as
    // kirt-vdev does when it plugs a device in again; without, the mapping is left as it is.
    bool reopen(bool remap = true);
    // Makes the mapping anew: the variable set again, or a new link put in place.
    void remap();

    // Serves events until the condition holds or the time is up.
    static bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
    // Serves events for the given time without the pauses of QTest::qWait, which would
    // throttle the receive thread's hand-overs.
    static void serveEvents(int ms);

private:
    bool openPair(bool remap);
    void closeAll();

    int m_comNumber;
    Mapping m_mapping;
    QByteArray m_variable;
    QByteArray m_previousValue;
    bool m_hadPrevious = false;
    int m_master = -1;
    int m_slaveHold = -1; // keeps the slave side alive while the program has it closed
    QString m_slavePath;
};

} // namespace kirt
