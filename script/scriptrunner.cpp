#include "script/scriptrunner.h"

#include "base/codec.h"
#include "checksum/checksum.h"
#include "script/scriptreport.h"
#include "script/scripttransfer.h"

#include <QJSEngine>
#include <QLocale>
#include <QThread>
#include <QTimer>
#include <QVariantMap>

#include <functional>

namespace kirt {

namespace {

using Clock = ScriptChannel::Clock;

std::optional<CheckKind> checkKindNamed(const QString& name)
{
    static const std::pair<const char*, CheckKind> kinds[] = {
        {"xor", CheckKind::Xor},         {"add", CheckKind::Add},
        {"crc16", CheckKind::Crc16},     {"crc16modbus", CheckKind::Modbus},
        {"crcccitt", CheckKind::XModem}, {"hdlc", CheckKind::Hdlc}};
    for (const auto& [text, kind] : kinds)
        if (name == QLatin1String(text))
            return kind;
    return std::nullopt;
}

// The script's side of the API: plain values in and out, called on the script's thread. The
// global functions of the prelude below give them their shape.
class ScriptApi final : public QObject
{
    Q_OBJECT

public:
    ScriptApi(ScriptChannel& channel, std::function<void(const ScriptCase&)> caseDone,
              std::function<void(const QString&)> say)
        : m_channel(channel), m_caseDone(std::move(caseDone)), m_say(std::move(say))
    {
        m_start = Clock::now();
    }

    Q_INVOKABLE double now() const { return msSince(Clock::now()); }
    Q_INVOKABLE double memoryBound() const
    {
        return static_cast<double>(ScriptRunner::ScriptMemoryBytes);
    }
    Q_INVOKABLE bool stopped() const { return m_channel.cancelled(); }

    Q_INVOKABLE QString open(const QString& port, const QVariantMap& options)
    {
        // A misspelt option would leave the line as stored and let the case pass on the
        // wrong settings.
        static const QStringList known{QStringLiteral("baud"), QStringLiteral("dataBits"),
                                       QStringLiteral("parity"), QStringLiteral("stopBits"),
                                       QStringLiteral("flow")};
        for (auto it = options.keyBegin(); it != options.keyEnd(); ++it)
            if (!known.contains(*it))
                return QStringLiteral("open: no option \"%1\" (the options are %2)")
                    .arg(*it, known.join(QStringLiteral(", ")));
        ScriptPort::OpenOptions open;
        if (options.contains(QStringLiteral("baud")))
            open.baud = options.value(QStringLiteral("baud")).toUInt();
        if (options.contains(QStringLiteral("dataBits")))
            open.dataBits =
                static_cast<std::uint8_t>(options.value(QStringLiteral("dataBits")).toUInt());
        const auto text = [&options](const char* key) {
            return options.value(QLatin1String(key)).toString();
        };
        // Stop bits are a number to a script, as data bits are; 1.5 is not among them.
        if (options.contains(QStringLiteral("stopBits"))) {
            open.stopBits = choiceFromScriptName<StopBits>(
                QString::number(options.value(QStringLiteral("stopBits")).toInt()));
            if (!open.stopBits)
                return QStringLiteral("open: stopBits must be ") + scriptChoices<StopBits>();
        }
        if (options.contains(QStringLiteral("parity"))) {
            open.parity = choiceFromScriptName<Parity>(text("parity"));
            if (!open.parity)
                return QStringLiteral("open: parity must be ") + scriptChoices<Parity>();
        }
        if (options.contains(QStringLiteral("flow"))) {
            open.flow = choiceFromScriptName<FlowControl>(text("flow"));
            if (!open.flow)
                return QStringLiteral("open: flow must be ") + scriptChoices<FlowControl>();
        }
        const QString result =
            m_channel.onOwner([port, open](ScriptPort& p) { return p.open(port, open); });
        if (result.isEmpty())
            m_channel.clearReceived(); // what came before the open is no answer to this script
        return result;
    }
    Q_INVOKABLE QString close()
    {
        return m_channel.onOwner([](ScriptPort& p) { return p.close(); });
    }
    Q_INVOKABLE QString send(const QString& bytes)
    {
        return m_channel.onOwner([data = bytes.toLatin1()](ScriptPort& p) { return p.send(data); });
    }
    Q_INVOKABLE QString sendLine(int line)
    {
        return m_channel.onOwner([line](ScriptPort& p) { return p.sendLine(line); });
    }
    Q_INVOKABLE QString setDtr(bool on) { return line(ModemLine::Dtr, on); }
    Q_INVOKABLE QString setRts(bool on) { return line(ModemLine::Rts, on); }
    Q_INVOKABLE QString sendBreak(int ms)
    {
        return m_channel.onOwner([ms](ScriptPort& p) { return p.sendBreak(ms); });
    }
    Q_INVOKABLE QVariant modem()
    {
        const std::optional<ModemStatus> lines = m_channel.modemOnOwner();
        if (!lines)
            return {};
        return QVariantMap{{QStringLiteral("cts"), lines->cts},
                           {QStringLiteral("dsr"), lines->dsr},
                           {QStringLiteral("dcd"), lines->dcd},
                           {QStringLiteral("ri"), lines->ri}};
    }
    Q_INVOKABLE void log(const QString& text) { m_say(text); }

    // The received bytes as one character a byte; the count seen is kept for waitMore.
    Q_INVOKABLE QString peek()
    {
        const QByteArray bytes = m_channel.peek(&m_seen);
        m_peeked = static_cast<std::size_t>(bytes.size());
        return QString::fromLatin1(bytes);
    }
    Q_INVOKABLE void consume(int count)
    {
        m_channel.consume(m_seen, m_peeked, static_cast<std::size_t>(count));
    }
    Q_INVOKABLE bool waitMore(double deadlineMs) const
    {
        return m_channel.waitForMore(m_seen, at(deadlineMs));
    }
    Q_INVOKABLE bool sleepUntil(double deadlineMs) const
    {
        return m_channel.sleepUntil(at(deadlineMs));
    }
    Q_INVOKABLE double lastArrival() const
    {
        return std::max(0.0, msSince(m_channel.lastArrival()));
    }
    Q_INVOKABLE double dropped() const { return static_cast<double>(m_channel.dropped()); }
    Q_INVOKABLE double flush() { return static_cast<double>(m_channel.clearReceived()); }

    Q_INVOKABLE QVariantMap hexBytes(const QString& text) const
    {
        const QString digits = StripHexDumpSeparators(text);
        for (const QChar c : digits)
            if (!c.isDigit() && !(c.toUpper() >= u'A' && c.toUpper() <= u'F'))
                return {{QStringLiteral("error"),
                         QStringLiteral("sendHex: \"%1\" is not a hex digit").arg(c)}};
        if (digits.size() % 2 != 0)
            return {
                {QStringLiteral("error"), QStringLiteral("sendHex: an odd number of hex digits")}};
        const QByteArray latin = digits.toLatin1();
        QByteArray bytes(latin.size() / 2, '\0');
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(DecodeHexPair(latin.constData() + 2 * i));
        return {{QStringLiteral("bytes"), QString::fromLatin1(bytes)}};
    }
    // -1 for a kind that does not exist.
    Q_INVOKABLE double checksum(const QString& kind, const QString& data) const
    {
        const auto found = checkKindNamed(kind);
        return found ? computeCheck(*found, data.toLatin1()) : -1.0;
    }
    Q_INVOKABLE QVariant checksumBytes(const QString& kind, const QString& data) const
    {
        const auto found = checkKindNamed(kind);
        if (!found)
            return {};
        return QString::fromLatin1(checkWireBytes(*found, computeCheck(*found, data.toLatin1())));
    }

    Q_INVOKABLE void caseStarts(const QString& name) { m_running << name; }
    Q_INVOKABLE void caseDone(const QString& name, bool passed, const QString& reason, double ms)
    {
        if (!m_running.isEmpty())
            m_running.removeLast();
        m_caseDone(ScriptCase{name, passed, reason, ms});
    }
    // The innermost case under way, for a run that was ended in the middle of it.
    QString runningCase() const { return m_running.isEmpty() ? QString() : m_running.last(); }

private:
    QString line(ModemLine which, bool on)
    {
        return m_channel.onOwner([which, on](ScriptPort& p) { return p.setModemLine(which, on); });
    }
    double msSince(Clock::time_point t) const
    {
        return std::chrono::duration<double, std::milli>(t - m_start).count();
    }
    Clock::time_point at(double ms) const
    {
        return m_start + std::chrono::microseconds(static_cast<long long>(ms * 1000.0));
    }

    ScriptChannel& m_channel;
    std::function<void(const ScriptCase&)> m_caseDone;
    std::function<void(const QString&)> m_say;
    Clock::time_point m_start;
    std::uint64_t m_seen = 0; // bytes arrived at the last peek
    std::size_t m_peeked = 0; // and how many it gave
    QStringList m_running;    // the cases begun and not done, outermost first
};

// The global functions, in the script's own language, over the API object.
const char Prelude[] = R"JS(
(function (k, g) {
"use strict";
function bytes(d, what) {
    if (typeof d === "string") {
        for (let i = 0; i < d.length; ++i)
            if (d.charCodeAt(i) > 255)
                throw new RangeError(what + ": character " + i + " is not a byte (0..255)");
        return d;
    }
    if (d instanceof ArrayBuffer)
        d = new Uint8Array(d);
    if (ArrayBuffer.isView(d) || Array.isArray(d)) {
        let s = "";
        for (let i = 0; i < d.length; ++i) {
            const v = d[i];
            if (typeof v !== "number" || v < 0 || v > 255 || v !== Math.floor(v))
                throw new RangeError(what + ": " + v + " is not a byte (0..255)");
            s += String.fromCharCode(v);
        }
        return s;
    }
    throw new TypeError(what + ": give a string, a Uint8Array or an array of byte values");
}
function fail(text) { if (text) throw new Error(text); }
function stopped() { throw new Error("stopped"); }
function hex(s) {
    const out = [];
    for (let i = 0; i < s.length; ++i)
        out.push(s.charCodeAt(i).toString(16).toUpperCase().padStart(2, "0"));
    return out.length ? out.join(" ") : "(nothing)";
}
function describe(p) {
    return p instanceof RegExp ? String(p) : typeof p === "string" ? JSON.stringify(p)
                                                                   : "bytes " + hex(bytes(p, "expect"));
}
function deadline(ms, fallback) { return k.now() + (ms === undefined ? fallback : Number(ms)); }
class TimeoutError extends Error {
    constructor(message) { super(message); this.name = "TimeoutError"; }
}
g.TimeoutError = TimeoutError;
// The memory bound stops a script between two of its steps, but these built-ins make a value
// of a size the script names in one step that nothing interrupts: refused when the value alone
// would pass the bound, or cut into steps.
const most = k.memoryBound();
function room(bytes, what) {
    if (bytes > most)
        throw new RangeError(what + ": the result would take more than " + most / 1048576 +
                             " MB of memory");
}
function replace(owner, name, fn) {
    Object.defineProperty(owner, name, {value: fn, writable: true, configurable: true});
}
function sized(owner, name, bytes) {
    const inner = owner[name];
    replace(owner, name, function (...args) {
        room(bytes(this, args), name);
        return inner.apply(this, args);
    });
}
sized(String.prototype, "repeat", (s, a) => String(s).length * Number(a[0]) * 2);
sized(String.prototype, "padStart", (s, a) => Number(a[0]) * 2);
sized(String.prototype, "padEnd", (s, a) => Number(a[0]) * 2);
const fill = Array.prototype.fill;
replace(Array.prototype, "fill", function (value, start, end) {
    const length = Math.min(Math.max(Math.trunc(Number(this.length)) || 0, 0), 2 ** 53 - 1);
    const at = (n, fallback) => {
        const i = n === undefined ? fallback : Math.trunc(Number(n)) || 0;
        return i < 0 ? Math.max(length + i, 0) : Math.min(i, length);
    };
    const last = at(end, length);
    for (let from = at(start, 0); from < last; from += 65536)
        fill.call(this, value, from, Math.min(from + 65536, last));
    return this;
});
for (const name of ["ArrayBuffer", "Int8Array", "Uint8Array", "Uint8ClampedArray", "Int16Array",
                    "Uint16Array", "Int32Array", "Uint32Array", "Float32Array", "Float64Array"]) {
    const Inner = g[name];
    const unit = Inner.BYTES_PER_ELEMENT || 1;
    // A subclass, not a proxy: instanceof needs a function, and what the engine makes with
    // the original (a view's buffer) is still an instance.
    g[name] = class extends Inner {
        constructor(...args) {
            if (typeof args[0] === "number")
                room(args[0] * unit, "new " + name);
            super(...args);
        }
        static [Symbol.hasInstance](value) { return value instanceof Inner; }
    };
}
g.open = function (port, options) {
    fail(k.open(port === undefined || port === null ? "" : String(port), options || {}));
};
g.close = function () { fail(k.close()); };
g.send = function (data) { fail(k.send(bytes(data, "send"))); };
g.sendHex = function (text) {
    const r = k.hexBytes(String(text));
    if (r.error) throw new Error(r.error);
    fail(k.send(r.bytes));
};
g.sendLine = function (n) { fail(k.sendLine(Number(n))); };
g.expect = function (pattern, timeoutMs) {
    const until = deadline(timeoutMs, 5000);
    let re = null, needle = null;
    if (pattern instanceof RegExp)
        re = new RegExp(pattern.source, pattern.flags.replace(/[gy]/g, ""));
    else
        needle = bytes(pattern, "expect");
    for (;;) {
        const text = k.peek();
        if (re) {
            const m = re.exec(text);
            if (m) { k.consume(m.index + m[0].length); return m; }
        } else {
            const at = text.indexOf(needle);
            if (at >= 0) { k.consume(at + needle.length); return needle; }
        }
        if (!k.waitMore(until)) {
            if (k.stopped()) stopped();
            throw new TimeoutError("expect " + describe(pattern) + ": no match within " +
                                   (timeoutMs === undefined ? 5000 : timeoutMs) +
                                   " ms; last bytes received: " + hex(k.peek().slice(-64)));
        }
    }
};
g.read = function (count, timeoutMs) {
    const until = deadline(timeoutMs, 1000);
    for (;;) {
        const text = k.peek();
        if (text.length >= count || !k.waitMore(until)) {
            if (k.stopped()) stopped();
            const got = k.peek().slice(0, count);
            k.consume(got.length);
            return got;
        }
    }
};
g.waitIdle = function (ms) {
    for (;;) {
        const quiet = k.now() - k.lastArrival();
        if (quiet >= ms) return;
        if (!k.sleepUntil(k.lastArrival() + ms)) stopped();
    }
};
g.sleep = function (ms) { if (!k.sleepUntil(k.now() + Number(ms))) stopped(); };
g.setDtr = function (on) { fail(k.setDtr(!!on)); };
g.setRts = function (on) { fail(k.setRts(!!on)); };
// The owner ends the break on a timer; the script goes on once it is over.
g.sendBreak = function (ms) {
    const hold = ms === undefined ? 250 : Number(ms);
    fail(k.sendBreak(hold));
    g.sleep(hold);
};
g.modem = function () { const m = k.modem(); return m === undefined ? null : m; };
g.checksum = function (kind, data) {
    const v = k.checksum(String(kind), bytes(data, "checksum"));
    if (v < 0) throw new RangeError("checksum: no kind " + JSON.stringify(kind));
    return v;
};
g.checksumBytes = function (kind, data) {
    const v = k.checksumBytes(String(kind), bytes(data, "checksumBytes"));
    if (v === undefined || v === null)
        throw new RangeError("checksumBytes: no kind " + JSON.stringify(kind));
    return v;
};
// Drops what was received and not yet consumed (a greeting, a late answer of an earlier case);
// returns how many bytes went.
g.flush = function () { return k.flush(); };
g.log = function (text) { k.log(String(text)); };
g.check = function (condition, message) {
    if (!condition) throw new Error(message === undefined ? "check failed" : String(message));
};
// The script's own line: the first frame outside this prelude.
function line(e) {
    for (const frame of String(e.stack || "").split("\n")) {
        const m = /:(\d+)$/.exec(frame);
        if (m && frame.indexOf("kirt-prelude.js") < 0) return " (line " + m[1] + ")";
    }
    return "";
}
function reason(e) {
    if (e instanceof Error) {
        const where = line(e);
        return (e.name && e.name !== "Error" ? e.name + ": " : "") + e.message + where;
    }
    return String(e);
}
g.test = function (name, fn) {
    const start = k.now();
    k.caseStarts(String(name));
    try {
        fn();
        k.caseDone(String(name), true, "", k.now() - start);
    } catch (e) {
        if (k.stopped()) throw e;
        k.caseDone(String(name), false, reason(e), k.now() - start);
    }
};
})(__kirt, this);
delete this.__kirt;
)JS";

QString whereAndWhat(const QJSValue& error, const QString& fileName)
{
    // The first frame outside the prelude, as "...@file:PATH:LINE".
    int line = error.property(QStringLiteral("lineNumber")).toInt();
    const QStringList frames =
        error.property(QStringLiteral("stack")).toString().split(QLatin1Char('\n'));
    for (const QString& frame : frames) {
        const qsizetype colon = frame.lastIndexOf(QLatin1Char(':'));
        bool ok = false;
        const int number = colon > 0 ? frame.mid(colon + 1).toInt(&ok) : 0;
        if (ok && !frame.contains(QLatin1String("kirt-prelude.js"))) {
            line = number;
            return QStringLiteral("%1:%2: %3").arg(fileName).arg(line).arg(error.toString());
        }
    }
    QString file = error.property(QStringLiteral("fileName")).toString();
    if (file.isEmpty())
        file = fileName;
    return QStringLiteral("%1:%2: %3").arg(file).arg(line).arg(error.toString());
}

} // namespace

int ScriptOutcome::failedCases() const
{
    return static_cast<int>(
        std::count_if(cases.begin(), cases.end(), [](const ScriptCase& c) { return !c.passed; }));
}

int ScriptOutcome::exitCode() const
{
    if (end == End::NotLoaded)
        return 2;
    return end == End::Done && failedCases() == 0 ? 0 : 1;
}

ScriptRunner::ScriptRunner(ScriptPort& port, QObject* parent)
    : QObject(parent), m_channel(this, &port), m_port(port), m_refresh(new QTimer(this))
{
    qRegisterMetaType<kirt::ScriptCase>();
    qRegisterMetaType<kirt::ScriptOutcome>();
    m_refresh->setSingleShot(true);
    connect(m_refresh, &QTimer::timeout, this, &ScriptRunner::showSaid);
}

void ScriptRunner::setBoundedOutput(bool bounded)
{
    m_channel.setSaidMode(bounded ? ScriptChannel::SaidMode::Bounded
                                  : ScriptChannel::SaidMode::Whole);
    m_refreshMs = bounded ? RefreshMs : 0;
}

void ScriptRunner::linesWaiting()
{
    if (m_refresh->isActive())
        return;
    const qint64 since = m_lastRefresh.isValid() ? m_lastRefresh.elapsed() : m_refreshMs;
    m_refresh->start(static_cast<int>(std::max<qint64>(0, m_refreshMs - since)));
}

void ScriptRunner::showSaid()
{
    m_lastRefresh.start();
    std::uint64_t dropped = 0;
    const QList<ScriptChannel::Said> said = m_channel.takeSaid(&dropped);
    QStringList lines;
    if (dropped > 0)
        lines << QStringLiteral("... %1 lines not shown")
                     .arg(QLocale(QLocale::English).toString(qulonglong(dropped)));
    // In order, each run of log lines to the port's log and each run of results to whoever
    // shows them.
    bool results = false;
    const auto hand = [&] {
        if (lines.isEmpty())
            return;
        if (results)
            emit resultsShown(lines);
        else
            m_port.logLines(lines);
        lines.clear();
    };
    for (const ScriptChannel::Said& one : said) {
        if (one.result != results) {
            hand();
            results = one.result;
        }
        lines << one.line;
    }
    hand();
}

ScriptRunner::~ScriptRunner()
{
    stop();
    waitForEnd();
}

bool ScriptRunner::start(const QString& fileName, const QString& source)
{
    if (m_thread)
        return false;
    m_channel.reset();
    m_stopReason = -1;
    m_outcome = {};
    m_thread = QThread::create([this, fileName, source] { run(fileName, source); });
    // The engine stops a script's own recursion at its call depth, but some of its built-ins
    // (turning a deeply nested value into text, compiling a deeply nested pattern) recurse in
    // C++ with no limit of their own; the default 8 MB ran out at a depth of a few thousand.
    // Only the pages used are ever backed by memory.
    m_thread->setStackSize(ScriptStackBytes);
    connect(m_thread, &QThread::finished, this, [this] {
        m_memory.stop();
        m_thread->deleteLater();
        m_thread = nullptr;
        // The last lines before the outcome.
        m_refresh->stop();
        showSaid();
        emit finished(m_outcome);
    });
    m_memory.start(ScriptMemoryBytes, [this] { interrupt(ScriptOutcome::End::OutOfMemory); });
    m_thread->start();
    return true;
}

void ScriptRunner::run(const QString& fileName, const QString& source)
{
    QElapsedTimer clock;
    clock.start();
    ScriptOutcome outcome;
    {
        QJSEngine engine;
        const auto say = [this](const QString& line, bool result) {
            if (m_channel.say({line, result}))
                QMetaObject::invokeMethod(this, &ScriptRunner::linesWaiting, Qt::QueuedConnection);
        };
        ScriptApi api(
            m_channel,
            [&outcome, say](const ScriptCase& result) {
                outcome.cases << result; // every case, whatever the user is shown
                say(caseLine(result), true);
            },
            [say](const QString& line) { say(line, false); });
        QJSEngine::setObjectOwnership(&api, QJSEngine::CppOwnership);
        ScriptTransferApi transfers(m_channel);
        {
            const std::lock_guard lock(m_engineMutex);
            m_engine = &engine;
            if (m_stopReason >= 0)
                engine.setInterrupted(true);
        }
        engine.globalObject().setProperty(QStringLiteral("__kirt"), engine.newQObject(&api));
        const QJSValue prelude =
            engine.evaluate(QString::fromUtf8(Prelude), QStringLiteral("kirt-prelude.js"));
        const QJSValue more = prelude.isError() ? prelude : transfers.install(engine);
        const QJSValue result = more.isError() ? more : engine.evaluate(source, fileName, 1);
        {
            const std::lock_guard lock(m_engineMutex);
            m_engine = nullptr;
        }
        if (m_stopReason >= 0) {
            outcome.end = static_cast<ScriptOutcome::End>(m_stopReason.load());
            outcome.interruptedCase = api.runningCase();
        } else if (result.isError()) {
            outcome.error = whereAndWhat(result, fileName);
            outcome.end = result.errorType() == QJSValue::SyntaxError
                              ? ScriptOutcome::End::NotLoaded
                              : ScriptOutcome::End::Failed;
        }
    }
    outcome.ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    m_outcome = outcome;
}

void ScriptRunner::stop(ScriptOutcome::End why)
{
    if (m_thread)
        interrupt(why);
}

void ScriptRunner::interrupt(ScriptOutcome::End why)
{
    int expected = -1;
    m_stopReason.compare_exchange_strong(expected, static_cast<int>(why));
    m_channel.cancel();
    const std::lock_guard lock(m_engineMutex);
    if (m_engine)
        m_engine->setInterrupted(true);
}

void ScriptRunner::waitForEnd()
{
    if (!m_thread)
        return;
    // The script may be waiting for a port call that only this thread's events run; it gives
    // up on it once cancelled, so a plain wait ends.
    m_thread->wait();
    m_memory.stop();
    delete m_thread;
    m_thread = nullptr;
}

} // namespace kirt

#include "scriptrunner.moc"
