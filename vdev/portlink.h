#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace kirt::vdev {

// The port-map link that makes a COM port of the terminal lead to the virtual device, e.g.
// ~/.config/kirt/ports/COM1 -> /dev/pts/4. It never takes over a mapping the user made unless
// told to, and then puts that mapping back when it goes.
class PortLink
{
public:
    // Points linkPath at target, creating the folder when needed. An existing link is
    // replaced only when it is a leftover of a device that is gone (a link to a /dev/pts
    // entry that no longer exists) or when `force` is set. A file or folder in its place is
    // never touched. On failure returns nothing and says why in `error`; `note` tells
    // what was replaced, if anything.
    static std::unique_ptr<PortLink> publish(const QString& linkPath, const QString& target,
                                             bool force, QString* error, QString* note = nullptr);

    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    // Puts a new link in place, leading to target, as a replugged device's link is made anew:
    // a terminal that waits for the device it lost takes a new link, never an old one, since
    // the old one may lead to a number the system has given to another program. Refuses, with
    // a reason in `error`, when someone else re-pointed the link meanwhile.
    bool renew(const QString& target, QString* error);

    // Removes the link, or restores the one it replaced with force; leaves alone a link that
    // someone re-pointed meanwhile. Called by the destructor.
    void withdraw();

    QString path() const { return m_path; }
    QString target() const { return m_target; }
    // The user's target that was replaced and will be restored; empty if none.
    QString restoreTarget() const { return m_restore; }

private:
    PortLink(QString path, QString target, QString restore);

    QString m_path;
    QString m_target;
    QString m_restore;
    bool m_active = true;
};

// Where a symbolic link points, or nothing when the path is not a link.
std::optional<QString> linkTargetOf(const QString& path);

} // namespace kirt::vdev
