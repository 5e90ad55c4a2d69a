#include "serial/deviceholders.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kirt {

namespace {

using Clock = std::chrono::steady_clock;

// The process number a folder of /proc is named after; 0 for the other entries.
pid_t processNumber(const char* name)
{
    pid_t pid = 0;
    const char* end = name + std::strlen(name);
    const auto [last, error] = std::from_chars(name, end, pid);
    return error == std::errc() && last == end ? pid : 0;
}

QByteArray procPath(pid_t pid, const char* what)
{
    return "/proc/" + QByteArray::number(pid) + '/' + what;
}

// One look through the process table for the processes that hold a device.
struct Scan
{
    dev_t device = 0;
    Clock::time_point deadline;
    // The link texts already seen to lead to another device: most processes have the same
    // few terminals and /dev/null open, and each stat costs as much as the link's text.
    std::set<std::string, std::less<>> others;
};

// Whether one of the process's descriptors leads to the device.
bool holdsDevice(pid_t pid, Scan& scan)
{
    DIR* descriptors = ::opendir(procPath(pid, "fd").constData());
    if (descriptors == nullptr)
        return false; // gone, or another user's
    const int folder = ::dirfd(descriptors);
    bool holds = false;
    std::array<char, 256> target{};
    while (const dirent* entry = ::readdir(descriptors)) {
        if (Clock::now() > scan.deadline)
            break;
        if (entry->d_name[0] == '.')
            continue;
        // Only what lies under /dev is looked at: the link's text costs nothing, while a stat
        // of a file on a network mount that does not answer would hang.
        const ssize_t length = ::readlinkat(folder, entry->d_name, target.data(), target.size());
        if (length < 5 || std::memcmp(target.data(), "/dev/", 5) != 0)
            continue;
        const std::string_view text(target.data(), static_cast<std::size_t>(length));
        if (scan.others.find(text) != scan.others.end())
            continue;
        struct stat node
        {
        };
        if (::fstatat(folder, entry->d_name, &node, 0) != 0)
            continue;
        if (S_ISCHR(node.st_mode) && node.st_rdev == scan.device) {
            holds = true;
            break;
        }
        if (static_cast<std::size_t>(length) < target.size())
            scan.others.emplace(text);
    }
    ::closedir(descriptors);
    return holds;
}

QString commandName(pid_t pid)
{
    const int fd = ::open(procPath(pid, "comm").constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::array<char, 64> text{};
    const ssize_t length = ::read(fd, text.data(), text.size());
    ::close(fd);
    if (length <= 0)
        return {};
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(length)).trimmed();
}

} // namespace

std::vector<DeviceHolder> deviceHolders(const QString& devicePath, int budgetMs)
{
    std::vector<DeviceHolder> holders;
    struct stat device
    {
    };
    if (::stat(QFile::encodeName(devicePath).constData(), &device) != 0 || !S_ISCHR(device.st_mode))
        return holders;
    DIR* processes = ::opendir("/proc");
    if (processes == nullptr)
        return holders;
    // Asked only after an open failed, but a table of thousands of processes must not keep
    // the window waiting.
    Scan scan{device.st_rdev, Clock::now() + std::chrono::milliseconds(budgetMs), {}};
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(processes)) {
        const pid_t pid = processNumber(entry->d_name);
        if (pid <= 0 || pid == self)
            continue;
        if (Clock::now() > scan.deadline)
            break;
        if (!holdsDevice(pid, scan))
            continue;
        // A process that ended meanwhile has no name, and holds nothing any more.
        if (QString name = commandName(pid); !name.isEmpty())
            holders.push_back({pid, std::move(name)});
    }
    ::closedir(processes);
    std::sort(holders.begin(), holders.end(),
              [](const DeviceHolder& a, const DeviceHolder& b) { return a.pid < b.pid; });
    return holders;
}

QString holderWords(const std::vector<DeviceHolder>& holders)
{
    if (holders.empty())
        return {};
    QString words = QStringLiteral("in use by %1, process %2")
                        .arg(holders.front().name)
                        .arg(holders.front().pid);
    const std::size_t others = holders.size() - 1;
    if (others == 1)
        words += QStringLiteral(", and 1 other");
    else if (others > 1)
        words += QStringLiteral(", and %1 others").arg(others);
    return words;
}

} // namespace kirt
