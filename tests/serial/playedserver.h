#pragma once

#include "serial/rfc2217codec.h"

#include <QString>

#include <atomic>
#include <cerrno>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kirt::test {

// A telnet server played by the test on a loopback port. With answering on it offers the
// serial port control option and answers every setting with the value asked, unless alter
// gives another answer (an empty one for none); without, the test reads the socket itself.
class PlayedServer
{
public:
    using Alter = std::function<std::optional<telnet::Bytes>(const telnet::Bytes& command)>;

    explicit PlayedServer(bool answering, bool offerComPort = true, Alter alter = {})
        : m_offer(offerComPort), m_alter(std::move(alter))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // Small queues fill soon, for the tests of a full socket: what one side sends waits
        // in the other side's program, not in the system.
        const int small = 4096;
        ::setsockopt(m_listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        ::setsockopt(m_listener, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 1);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        if (answering)
            m_thread = std::thread([this] { serve(); });
    }
    ~PlayedServer()
    {
        m_stop.store(true);
        if (m_thread.joinable())
            m_thread.join();
        if (m_client >= 0)
            ::close(m_client);
        ::close(m_listener);
    }

    QString address() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_port); }

    // Every serial port command the client sent, without the option byte.
    std::vector<telnet::Bytes> commands()
    {
        const std::lock_guard lock(m_mutex);
        return m_commands;
    }
    void sendToClient(const telnet::Bytes& bytes)
    {
        const std::lock_guard lock(m_mutex);
        sendAll(bytes.data(), bytes.size(), 1000);
    }

    // Sends what the client takes, waiting up to waitMs each time it takes nothing; returns
    // how much it took.
    std::size_t sendAll(const std::uint8_t* bytes, std::size_t count, int waitMs)
    {
        std::size_t sent = 0;
        while (sent < count) {
            const ssize_t n = ::send(m_client, bytes + sent, count - sent, MSG_NOSIGNAL);
            pollfd room{m_client, POLLOUT, 0};
            if (n > 0)
                sent += static_cast<std::size_t>(n);
            else if ((n < 0 && errno != EAGAIN) || ::poll(&room, 1, waitMs) != 1)
                break;
        }
        return sent;
    }

    bool connected() const { return m_client.load() >= 0; }

    bool accept(int timeoutMs = 5000)
    {
        pollfd watched{m_listener, POLLIN, 0};
        if (::poll(&watched, 1, timeoutMs) != 1)
            return false;
        m_client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        return m_client >= 0;
    }
    // Up to max bytes of what the client sent, waiting up to timeoutMs for the first.
    telnet::Bytes receive(std::size_t max, int timeoutMs)
    {
        telnet::Bytes got(max);
        pollfd watched{m_client, POLLIN, 0};
        if (::poll(&watched, 1, timeoutMs) != 1)
            return {};
        const ssize_t n = ::recv(m_client, got.data(), max, 0);
        got.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return got;
    }

private:
    void serve()
    {
        while (!m_stop.load() && !accept(20)) {
        }
        if (m_client < 0)
            return;
        sendToClient({telnet::Iac, m_offer ? telnet::Do : telnet::Dont, telnet::OptionComPort});
        telnet::Decoder decoder;
        std::vector<telnet::Event> events;
        while (!m_stop.load()) {
            telnet::Bytes in = receive(4096, 20);
            events.clear();
            decoder.decode(in.data(), in.size(), in.data(), events);
            for (const telnet::Event& event : events) {
                if (event.kind != telnet::Event::Kind::Subnegotiation || event.payload.empty())
                    continue;
                {
                    const std::lock_guard lock(m_mutex);
                    m_commands.push_back(event.payload);
                }
                const std::uint8_t code = event.payload[0];
                // Line and break commands are answered too, as a server on a real port does,
                // under the same code as the flow control.
                const bool setting = code >= 1 && code <= 5;
                if (!setting)
                    continue;
                telnet::Bytes answer(event.payload.begin() + 1, event.payload.end());
                if (m_alter) {
                    const std::optional<telnet::Bytes> altered = m_alter(event.payload);
                    if (altered)
                        answer = *altered;
                }
                if (!answer.empty())
                    sendToClient(telnet::comCommand(
                        static_cast<telnet::ComCommand>(code + telnet::ServerOffset), answer));
            }
        }
    }

    bool m_offer;
    Alter m_alter;
    int m_listener = -1;
    std::atomic<int> m_client{-1};
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<telnet::Bytes> m_commands;
    std::thread m_thread;
};

} // namespace kirt::test
