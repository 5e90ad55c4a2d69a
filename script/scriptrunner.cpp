#include "script/scriptrunner.h"

#include "script/ownport.h"
#include "script/scriptapi.h"
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
function deadline(n, ms, fallback) { return n.now() + (ms === undefined ? fallback : Number(ms)); }
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
// The functions of one port over its native object n: the main port's are the globals, and
// each port the script opens itself gets the same, so the two cannot drift apart.
function portFunctions(n) {
    const p = {};
    // A port the script closed throws for everything, also for what only reads.
    const usable = (what) => fail(n.usable(what));
    p.close = function () { fail(n.close()); };
    p.send = function (data) { usable("send"); fail(n.send(bytes(data, "send"))); };
    p.sendHex = function (text) {
        usable("sendHex");
        const r = n.hexBytes(String(text));
        if (r.error) throw new Error(r.error);
        fail(n.send(r.bytes));
    };
    p.expect = function (pattern, timeoutMs) {
        usable("expect");
        const until = deadline(n, timeoutMs, 5000);
        let re = null, needle = null;
        if (pattern instanceof RegExp)
            re = new RegExp(pattern.source, pattern.flags.replace(/[gy]/g, ""));
        else
            needle = bytes(pattern, "expect");
        for (;;) {
            const text = n.peek();
            if (re) {
                const m = re.exec(text);
                if (m) { n.consume(m.index + m[0].length); return m; }
            } else {
                const at = text.indexOf(needle);
                if (at >= 0) { n.consume(at + needle.length); return needle; }
            }
            if (!n.waitMore(until)) {
                if (n.stopped()) stopped();
                throw new TimeoutError("expect " + describe(pattern) + ": no match within " +
                                       (timeoutMs === undefined ? 5000 : timeoutMs) +
                                       " ms; last bytes received: " + hex(n.peek().slice(-64)));
            }
        }
    };
    p.read = function (count, timeoutMs) {
        usable("read");
        const until = deadline(n, timeoutMs, 1000);
        for (;;) {
            const text = n.peek();
            if (text.length >= count || !n.waitMore(until)) {
                if (n.stopped()) stopped();
                const got = n.peek().slice(0, count);
                n.consume(got.length);
                return got;
            }
        }
    };
    p.waitIdle = function (ms) {
        usable("waitIdle");
        for (;;) {
            const quiet = n.now() - n.lastArrival();
            if (quiet >= ms) return;
            if (!n.sleepUntil(n.lastArrival() + ms)) stopped();
        }
    };
    p.setDtr = function (on) { usable("setDtr"); fail(n.setDtr(!!on)); };
    p.setRts = function (on) { usable("setRts"); fail(n.setRts(!!on)); };
    // The owner ends the break on a timer; the script goes on once it is over.
    p.sendBreak = function (ms) {
        usable("sendBreak");
        const hold = ms === undefined ? 250 : Number(ms);
        fail(n.sendBreak(hold));
        if (!n.sleepUntil(n.now() + hold)) stopped();
    };
    p.modem = function () { usable("modem"); const m = n.modem(); return m === undefined ? null : m; };
    // Drops what was received and not yet consumed (a greeting, a late answer of an earlier
    // case); returns how many bytes went.
    p.flush = function () { usable("flush"); return n.flush(); };
    return p;
}
Object.assign(g, portFunctions(k));
g.open = function (port, options) {
    fail(k.open(port === undefined || port === null ? "" : String(port), options || {}));
};
g.sendLine = function (n) { fail(k.sendLine(Number(n))); };
g.openPort = function (name, options) {
    const n = k.openPort(name === undefined || name === null ? "" : String(name), options || {});
    if (typeof n === "string") throw new Error(n);
    const p = portFunctions(n);
    p.name = String(name);
    return Object.freeze(p);
};
g.sleep = function (ms) { if (!k.sleepUntil(k.now() + Number(ms))) stopped(); };
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
        closeOwnPorts();
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
            [say](const QString& line) { say(line, false); },
            [this](const QString& name, const ScriptPort::OpenOptions& options, QString& error) {
                return openOwnPort(name, options, error);
            });
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
    {
        const std::lock_guard lock(m_ownMutex);
        for (const auto& port : m_ownPorts)
            port->channel().cancel();
    }
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
    closeOwnPorts();
}

ScriptChannel* ScriptRunner::openOwnPort(const QString& name,
                                         const ScriptPort::OpenOptions& options, QString& error)
{
    // Written on the owner's thread, read here only after the call returned: a call that runs
    // after a stop writes into this, not into a frame that is gone.
    auto made = std::make_shared<ScriptChannel*>(nullptr);
    error = m_channel.onOwner([this, made, name, options](ScriptPort& main) {
        if (m_channel.cancelled())
            return QStringLiteral("stopped");
        std::vector<const PortController*> others;
        for (const auto& port : m_ownPorts)
            others.push_back(port->controller());
        // The main port is the one a file transfer would claim.
        if (QString open = alreadyOpen(name, main.transferPort(), others); !open.isEmpty())
            return open;
        auto port = std::make_unique<OwnScriptPort>(main, main.lineSettings());
        // A failure in open()'s own words.
        if (QString failed = port->open(name, options); !failed.isEmpty())
            return failed;
        *made = &port->channel();
        const std::lock_guard lock(m_ownMutex);
        m_ownPorts.push_back(std::move(port));
        return QString();
    });
    return error.isEmpty() ? *made : nullptr;
}

void ScriptRunner::closeOwnPorts()
{
    std::vector<std::unique_ptr<OwnScriptPort>> ports;
    {
        const std::lock_guard lock(m_ownMutex);
        ports.swap(m_ownPorts);
    }
    // Their destructors close them, here on the owner's thread.
}

} // namespace kirt
