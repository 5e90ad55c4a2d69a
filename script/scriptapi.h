#pragma once

#include "script/scriptchannel.h"

#include <QJSValue>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <functional>

namespace kirt {

struct ScriptCase;

// One port as a script's functions reach it: plain values in and out, called on the script's
// thread, every port call made on the owner's thread through the port's channel. The prelude
// makes the same functions of it for the main port and for each port the script opens itself.
class ScriptPortApi : public QObject
{
    Q_OBJECT

public:
    using Clock = ScriptChannel::Clock;

    // name: that of a port the script opened itself, which its errors begin with; empty for
    // the main port. start: the script's zero of time.
    ScriptPortApi(ScriptChannel& channel, Clock::time_point start, QString name = {},
                  QObject* parent = nullptr);

    Q_INVOKABLE double now() const { return msSince(Clock::now()); }
    Q_INVOKABLE bool stopped() const { return m_channel.cancelled(); }
    // Empty while the port may be used; once the script closed a port of its own, why what
    // it calls fails.
    Q_INVOKABLE QString usable(const QString& what) const;

    Q_INVOKABLE QString close();
    Q_INVOKABLE QString send(const QString& bytes);
    Q_INVOKABLE QString setDtr(bool on) { return line(ModemLine::Dtr, on); }
    Q_INVOKABLE QString setRts(bool on) { return line(ModemLine::Rts, on); }
    Q_INVOKABLE QString sendBreak(int ms);
    Q_INVOKABLE QVariant modem();

    // The received bytes as one character a byte; the count seen is kept for waitMore.
    Q_INVOKABLE QString peek();
    Q_INVOKABLE void consume(int count);
    Q_INVOKABLE bool waitMore(double deadlineMs) const;
    Q_INVOKABLE bool sleepUntil(double deadlineMs) const;
    Q_INVOKABLE double lastArrival() const;
    Q_INVOKABLE double dropped() const { return static_cast<double>(m_channel.dropped()); }
    Q_INVOKABLE double flush() { return static_cast<double>(m_channel.clearReceived()); }
    Q_INVOKABLE QVariantMap hexBytes(const QString& text) const;

protected:
    // A port call's error, named after the port when it is one of the script's own.
    QString named(const QString& error) const;
    QString line(ModemLine which, bool on);
    double msSince(Clock::time_point t) const;
    Clock::time_point at(double ms) const;

    ScriptChannel& m_channel;
    Clock::time_point m_start;
    QString m_name;
    bool m_closed = false;
    std::uint64_t m_seen = 0; // bytes arrived at the last peek
    std::size_t m_peeked = 0; // and how many it gave
};

// The options of open() and openPort() as a script gives them; the error to throw, empty when
// they are sound.
QString scriptOpenOptions(const QString& what, const QVariantMap& options,
                          ScriptPort::OpenOptions& open);

// The main port's functions and the rest of the API.
class ScriptApi final : public ScriptPortApi
{
    Q_OBJECT

public:
    // Opens a port of the script's own and gives its channel, or nothing and why.
    using OpenOwn = std::function<ScriptChannel*(
        const QString& name, const ScriptPort::OpenOptions& options, QString& error)>;

    ScriptApi(ScriptChannel& channel, std::function<void(const ScriptCase&)> caseDone,
              std::function<void(const QString&)> say, OpenOwn openOwn);

    Q_INVOKABLE double memoryBound() const;
    Q_INVOKABLE QString open(const QString& port, const QVariantMap& options);
    Q_INVOKABLE QString sendLine(int line);
    // A port object for the prelude to dress, or the error to throw as a string.
    Q_INVOKABLE QJSValue openPort(const QString& name, const QVariantMap& options);
    Q_INVOKABLE void log(const QString& text) { m_say(text); }
    // -1 for a kind that does not exist.
    Q_INVOKABLE double checksum(const QString& kind, const QString& data) const;
    Q_INVOKABLE QVariant checksumBytes(const QString& kind, const QString& data) const;

    Q_INVOKABLE void caseStarts(const QString& name) { m_running << name; }
    Q_INVOKABLE void caseDone(const QString& name, bool passed, const QString& reason, double ms);
    // The innermost case under way, for a run that was ended in the middle of it.
    QString runningCase() const { return m_running.isEmpty() ? QString() : m_running.last(); }

private:
    std::function<void(const ScriptCase&)> m_caseDone;
    std::function<void(const QString&)> m_say;
    OpenOwn m_openOwn;
    QStringList m_running; // the cases begun and not done, outermost first
};

} // namespace kirt
