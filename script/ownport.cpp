#include "script/ownport.h"

#include "config/commandline.h"
#include "serial/portmap.h"

#include <QFileInfo>

namespace kirt {

namespace {

bool named(const QString& port)
{
    return comPortNumber(port.toUpper()) != 0;
}

// The device itself, links followed: two names for one node are one port.
QString nodeOf(const QString& device)
{
    if (device.isEmpty() || isNetworkAddress(device))
        return device;
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
}

QString nodeOf(const PortController* controller)
{
    return controller && controller->isOpen() ? nodeOf(controller->session().devicePath())
                                              : QString();
}

} // namespace

QString alreadyOpen(const QString& port, const PortController* main,
                    const std::vector<const PortController*>& others)
{
    QString device = port;
    if (named(port)) {
        const auto resolution = resolvePort(port.toUpper());
        device = resolution ? resolution->devicePath : QString();
    }
    const QString node = nodeOf(device);
    if (node.isEmpty())
        return {};
    // Opening it again would only meet the device's lock, whose words blame another program.
    if (node == nodeOf(main))
        return QStringLiteral("openPort: %1 is the main port, open already; the global functions "
                              "(send, expect, ...) use it")
            .arg(port);
    for (const PortController* other : others)
        if (node == nodeOf(other))
            return QStringLiteral("openPort: %1 is open already by an earlier openPort()")
                .arg(port);
    return {};
}

OwnScriptPort::OwnScriptPort(ScriptPort& main, const ComSettings& settings)
    : m_main(main), m_settings(settings), m_channel(this, this)
{
}

OwnScriptPort::~OwnScriptPort() = default;

const PortController* OwnScriptPort::controller() const
{
    return m_port ? &m_port->controller() : nullptr;
}

QString OwnScriptPort::open(const QString& port, const OpenOptions& options)
{
    OpenRequest request;
    if (named(port)) {
        request.portName = port.toUpper();
    } else {
        // A path or an address is opened as it is, mapping nothing: the window's ports and
        // the main port keep what their names lead to.
        request.portName = port;
        request.devicePath = port;
    }
    request.settings = withOpenOptions(m_settings, options);
    request.settings.portName = request.portName;
    auto opened = std::make_unique<SessionScriptPort>(
        StartOptions{}, [this](const QString& text) { m_main.log(text); });
    opened->controller().addReceiver(this);
    const OpenResult result = opened->controller().open(request);
    if (!result.ok())
        return openFailureWords(port, result).line();
    opened->session().setRxEnabled(true);
    m_port = std::move(opened);
    return {};
}

QString OwnScriptPort::close()
{
    m_port.reset();
    m_channel.clearReceived();
    return {};
}

} // namespace kirt
