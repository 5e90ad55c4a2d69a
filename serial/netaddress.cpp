#include "serial/netaddress.h"

#include <utility>

#include <arpa/inet.h>

namespace kirt {

namespace {

constexpr QLatin1StringView SchemeSeparator("://");

struct SchemeName
{
    QLatin1StringView name;
    NetworkScheme scheme;
};

constexpr SchemeName Schemes[] = {
    {QLatin1StringView("rfc2217"), NetworkScheme::Rfc2217},
    {QLatin1StringView("tcp"), NetworkScheme::RawTcp},
};

bool isSchemeCharacter(QChar c, bool first)
{
    if (c.unicode() > 0x7F)
        return false;
    if (c.isLetter())
        return true;
    return !first && (c.isDigit() || c == u'+' || c == u'-' || c == u'.');
}

bool isHostNameCharacter(QChar c)
{
    return c.unicode() <= 0x7F && (c.isLetterOrNumber() || c == u'-' || c == u'.' || c == u'_');
}

NetworkAddressParse refuse(QString reason)
{
    NetworkAddressParse result;
    result.refusal = std::move(reason);
    return result;
}

bool validIpv6(const QString& text)
{
    // A zone ("%eth0") names an interface of this machine; the address before it must parse.
    const QString address = text.section(u'%', 0, 0);
    if (text.contains(u'%') && text.section(u'%', 1).isEmpty())
        return false;
    in6_addr parsed{};
    return ::inet_pton(AF_INET6, address.toLatin1().constData(), &parsed) == 1;
}

bool looksLikeIpv4(const QString& host)
{
    for (const QChar c : host) {
        if (!c.isDigit() && c != u'.')
            return false;
    }
    return true;
}

} // namespace

bool isNetworkAddress(const QString& device)
{
    const qsizetype separator = device.indexOf(SchemeSeparator);
    if (separator <= 0)
        return false;
    for (qsizetype i = 0; i < separator; ++i) {
        if (!isSchemeCharacter(device.at(i), i == 0))
            return false;
    }
    return true;
}

NetworkAddressParse parseNetworkAddress(const QString& text)
{
    if (!isNetworkAddress(text))
        return refuse(QStringLiteral("'%1' is not a network address (rfc2217://HOST:PORT or "
                                     "tcp://HOST:PORT)")
                          .arg(text));
    const qsizetype separator = text.indexOf(SchemeSeparator);
    const QString schemeName = text.left(separator);
    NetworkAddressParse result;
    bool knownScheme = false;
    for (const SchemeName& entry : Schemes) {
        if (schemeName.compare(entry.name, Qt::CaseInsensitive) == 0) {
            result.address.scheme = entry.scheme;
            knownScheme = true;
        }
    }
    if (!knownScheme)
        return refuse(
            QStringLiteral("unknown scheme '%1': use rfc2217:// or tcp://").arg(schemeName));

    const QString rest = text.mid(separator + SchemeSeparator.size());
    QString host;
    QString afterHost;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            return refuse(QStringLiteral("the IPv6 address has no closing ']'"));
        host = rest.mid(1, close - 1);
        afterHost = rest.mid(close + 1);
        if (host.isEmpty())
            return refuse(QStringLiteral("no host"));
        if (!validIpv6(host))
            return refuse(QStringLiteral("'%1' is not an IPv6 address").arg(host));
    } else {
        const qsizetype colon = rest.indexOf(u':');
        host = colon < 0 ? rest : rest.left(colon);
        afterHost = colon < 0 ? QString() : rest.mid(colon);
        if (colon >= 0 && rest.indexOf(u':', colon + 1) >= 0)
            return refuse(QStringLiteral("an IPv6 address goes in brackets: [ADDRESS]:PORT"));
        if (host.isEmpty())
            return refuse(QStringLiteral("no host"));
        for (const QChar c : host) {
            if (!isHostNameCharacter(c))
                return refuse(QStringLiteral("'%1' is not a host name").arg(host));
        }
        in_addr parsed{};
        if (looksLikeIpv4(host) && ::inet_pton(AF_INET, host.toLatin1().constData(), &parsed) != 1)
            return refuse(QStringLiteral("'%1' is not an IPv4 address").arg(host));
    }

    if (afterHost.isEmpty() || afterHost == QLatin1String(":"))
        return refuse(QStringLiteral("no port: add ':PORT' after the host"));
    if (!afterHost.startsWith(u':'))
        return refuse(QStringLiteral("'%1' after the host is not a port").arg(afterHost));
    const QString portText = afterHost.mid(1);
    for (const QChar c : portText) {
        if (c.unicode() > 0x7F || !c.isDigit())
            return refuse(QStringLiteral("'%1' is not a port number").arg(portText));
    }
    bool parsed = false;
    const qulonglong port = portText.size() <= 10 ? portText.toULongLong(&parsed) : 0;
    if (!parsed || port < 1 || port > 65535)
        return refuse(QStringLiteral("port %1 is outside 1..65535").arg(portText));

    result.address.host = host;
    result.address.port = static_cast<std::uint16_t>(port);
    result.ok = true;
    return result;
}

QString networkAddressText(const NetworkAddress& address)
{
    const QString scheme = address.scheme == NetworkScheme::Rfc2217 ? QStringLiteral("rfc2217")
                                                                    : QStringLiteral("tcp");
    const QString host = address.host.contains(u':')
                             ? QLatin1Char('[') + address.host + QLatin1Char(']')
                             : address.host;
    return QStringLiteral("%1://%2:%3").arg(scheme, host).arg(address.port);
}

} // namespace kirt
