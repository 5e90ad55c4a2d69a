#pragma once

#include <QString>

#include <cstdint>

namespace kirt {

enum class NetworkScheme {
    Rfc2217, // telnet with the serial port control option: line settings reach the far port
    RawTcp   // the bytes and nothing else
};

// A serial port on another machine, written "rfc2217://HOST:PORT" or "tcp://HOST:PORT".
struct NetworkAddress
{
    NetworkScheme scheme = NetworkScheme::Rfc2217;
    QString host; // a name, an IPv4 address, or an IPv6 address without its brackets
    std::uint16_t port = 0;

    bool operator==(const NetworkAddress&) const = default;
};

struct NetworkAddressParse
{
    bool ok = false;
    NetworkAddress address;
    QString refusal; // why the text is not an address, when !ok
};

// Whether the device string names a network port at all ("scheme://..."), well formed or not:
// such a string is never opened as a file, and a malformed one is refused with its reason.
bool isNetworkAddress(const QString& device);

NetworkAddressParse parseNetworkAddress(const QString& text);

// The address as the user would write it again.
QString networkAddressText(const NetworkAddress& address);

} // namespace kirt
