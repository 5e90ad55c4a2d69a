// The device behind the port: the list the port is mapped from, the label that says where the
// port leads, and carrying on when the device of an open port goes away and comes back.
#include "app/Umain.h"

#include "app/dialogs.h"
#include "app/monitorhost.h"
#include "serial/netaddress.h"
#include "serial/portmap.h"
#include "ui_Umain.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSignalBlocker>
#include <QTime>
#include <QTimer>

namespace {

// A device appears as a burst of changes (the node, then its by-id link a moment later).
constexpr int SettleMs = 150;
constexpr int ReconnectedShownMs = 3000;

QTimer* makeTimer(QObject* parent, int intervalMs, bool singleShot)
{
    auto* timer = new QTimer(parent);
    timer->setInterval(intervalMs);
    timer->setSingleShot(singleShot);
    return timer;
}

// When a loss or a return happened, as the display's TIME stamps write it.
QString noteTime()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

} // namespace

void TFmain::setUpDeviceWatch()
{
    m_ui->DeviceStateLabel->hide();
    m_device.folders = new QFileSystemWatcher(this);
    m_device.refresh = makeTimer(this, SettleMs, true);
    m_device.stateShown = makeTimer(this, ReconnectedShownMs, true);
    connect(m_device.folders, &QFileSystemWatcher::directoryChanged, m_device.refresh,
            qOverload<>(&QTimer::start));
    connect(m_device.refresh, &QTimer::timeout, this, &TFmain::refreshDevices);
    connect(&port().session(), &kirt::PortSession::lost, this, &TFmain::showDeviceLost);
    connect(&port().session(), &kirt::PortSession::reconnected, this, &TFmain::showReconnected);
    connect(m_device.stateShown, &QTimer::timeout, m_ui->DeviceStateLabel, &QWidget::hide);
    connect(m_ui->SerialDeviceComboBox, &QComboBox::activated, this,
            &TFmain::SerialDeviceComboBoxClick);
    // What a link says may have changed behind the program's back while the page was away.
    connect(m_ui->OPTION_BitBtn, &QAbstractButton::clicked, this, &TFmain::showPortDevice);
    connect(m_ui->OptionPageControl, &QTabWidget::currentChanged, this, &TFmain::showPortDevice);
    refreshDevices();
}

void TFmain::watchDeviceFolders()
{
    QStringList wanted = kirt::deviceSource().watchedFolders();
    // The ports folder may not exist yet: its parent sees it appear.
    const QString ports = kirt::portLinkDirectory();
    wanted << (QFileInfo::exists(ports) ? ports : QFileInfo(ports).path());
    const QStringList watched = m_device.folders->directories();
    for (const QString& folder : wanted)
        if (!watched.contains(folder) && QFileInfo(folder).isDir())
            m_device.folders->addPath(folder);
}

void TFmain::refreshDevices()
{
    m_device.devices = kirt::discoverDevices();
    QComboBox* box = m_ui->SerialDeviceComboBox;
    {
        const QSignalBlocker quiet(box);
        box->clear();
        for (const kirt::SerialDevice& device : m_device.devices) {
            box->addItem(device.itemText(), device.path);
            box->setItemData(box->count() - 1, device.details(), Qt::ToolTipRole);
        }
        box->addItem(QStringLiteral("Other device..."));
        box->setItemData(box->count() - 1,
                         QStringLiteral("A device path, or a serial port on the network: "
                                        "rfc2217://HOST:PORT or tcp://HOST:PORT"),
                         Qt::ToolTipRole);
    }
    watchDeviceFolders();
    showPortDevice();

    port().session().checkDevice();
    m_monitor->checkDevice();
}

void TFmain::showPortDevice()
{
    const QString port = m_ui->SerialPortComboBox->currentText();
    const auto resolution = kirt::resolvePort(port);
    const bool runOnly = !m_runOnly.port.isEmpty() && port == m_runOnly.port;
    QString text = runOnly ? m_runOnly.device + QStringLiteral(" (--device, this run only)")
                           : kirt::describePort(port);
    const bool networked = resolution && resolution->networked();
    QString label = text;
    if (networked) {
        const kirt::NetworkAddressParse address = kirt::parseNetworkAddress(resolution->devicePath);
        if (address.ok && address.address.scheme == kirt::NetworkScheme::RawTcp)
            label = resolution->devicePath +
                    QStringLiteral(" (raw TCP: line settings stay on the server)");
    } else if (resolution && !QFileInfo::exists(resolution->devicePath)) {
        label += QStringLiteral(" - not present");
        text = label;
    }
    m_ui->SerialPortDeviceLabel->setText(label);
    m_ui->SerialPortDeviceLabel->setToolTip(text);

    QComboBox* box = m_ui->SerialDeviceComboBox;
    const QSignalBlocker quiet(box);
    box->setCurrentIndex(kirt::indexOfPortDevice(m_device.devices, port));
    const bool byVariable = resolution && resolution->source == kirt::PortSource::Environment;
    box->setEnabled(resolution && !byVariable);
    box->setToolTip(runOnly ? QStringLiteral("--device decides which device %1 opens in "
                                             "this run.")
                                  .arg(port)
                    : byVariable ? QStringLiteral("%1 is set: the environment variable decides "
                                                  "which device %2 opens.")
                                       .arg(resolution->origin, port)
                                 : QStringLiteral("The device %1 opens. Choosing one links %1 "
                                                  "to it.")
                                       .arg(port));
}

void TFmain::SerialDeviceComboBoxClick()
{
    const int index = m_ui->SerialDeviceComboBox->currentIndex();
    const QString port = m_ui->SerialPortComboBox->currentText();
    std::optional<kirt::SerialDevice> device;
    if (index >= 0 && index < m_device.devices.size())
        device = m_device.devices[static_cast<qsizetype>(index)];
    else if (index == m_device.devices.size())
        device = askOtherDevice(port);
    if (device) {
        const kirt::MapResult result = kirt::mapPortToDevice(port, *device);
        if (!result.ok)
            kirt::dialogs().error(this, QStringLiteral("Cannot map ") + port, result.reason);
    }
    // The box and the label show what holds now, also after a refusal; a new link shows up
    // in the list.
    refreshDevices();
}

std::optional<kirt::SerialDevice> TFmain::askOtherDevice(const QString& port)
{
    const auto resolution = kirt::resolvePort(port);
    const QString offered = resolution && resolution->source == kirt::PortSource::ConfigLink
                                ? resolution->linkTarget
                                : QString();
    const std::optional<QString> typed = kirt::dialogs().askText(
        this, QStringLiteral("Other device"),
        QStringLiteral("Device path, rfc2217://HOST:PORT or tcp://HOST:PORT for %1:").arg(port),
        offered);
    if (!typed || typed->trimmed().isEmpty())
        return std::nullopt;
    QString refusal;
    std::optional<kirt::SerialDevice> device = kirt::typedDevice(*typed, &refusal);
    if (!device)
        kirt::dialogs().error(this, QStringLiteral("Cannot map ") + port, refusal);
    return device;
}

void TFmain::showDeviceLost(const QString& devicePath)
{
    // The port stays open as far as the user is concerned: settings, display, log and rules
    // stay, writes go nowhere.
    m_device.stateShown->stop();
    showDeviceState(QStringLiteral(" Device lost: ") + devicePath +
                    QStringLiteral(" - waiting for it"));
    // The bar's text goes; read back later, the display still tells where the gap came from.
    const QString reason = port().session().lossReason();
    showNoteLine(QStringLiteral("[%1] Device lost: %2").arg(noteTime(), devicePath) +
                 (reason.isEmpty() ? QString() : QStringLiteral(" - ") + reason));
    if (!reason.isEmpty())
        m_ui->DeviceStateLabel->setToolTip(reason);
    // A pseudo-terminal comes and goes where nothing is watched: the list and label follow.
    m_device.refresh->start();
}

void TFmain::showReconnected(const QString& devicePath)
{
    showDeviceState(QStringLiteral(" Reconnected: ") + devicePath);
    showNoteLine(QStringLiteral("[%1] Reconnected: %2").arg(noteTime(), devicePath));
    m_device.stateShown->start();
    m_device.refresh->start();
}

void TFmain::stopWaitingForDevice()
{
    m_device.stateShown->stop();
    m_ui->DeviceStateLabel->hide();
}

void TFmain::showDeviceState(const QString& text)
{
    m_ui->DeviceStateLabel->setText(text);
    m_ui->DeviceStateLabel->setToolTip(text);
    m_ui->DeviceStateLabel->show();
}
