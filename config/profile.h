#pragma once

#include <QString>

#include <memory>

class QLockFile;

namespace kirt {

// A profile keeps its own settings and kept lines, apart from every other profile; the port
// mappings stay shared, as they describe the machine. The default profile (an empty name)
// keeps its files where they always were.

// Why the name cannot name a profile's folder; empty when it can.
QString profileNameRefusal(const QString& name);

// The profile this process starts its windows and script runs with: set from the command line
// before anything reads the settings.
void setCurrentProfile(const QString& name);
QString currentProfile();

// $XDG_CONFIG_HOME/kirt (~/.config/kirt) for the default profile, .../kirt/profiles/NAME else.
QString profileFolder(const QString& name);

// One window's hold on its profile. The first window of a profile owns it until it ends; a
// second one, in this process or another, keeps working but must not write the profile's
// files, so the owner's are never overwritten. A lock left by a process that died is taken over.
class ProfileClaim
{
public:
    explicit ProfileClaim(QString name);
    ~ProfileClaim();
    ProfileClaim(const ProfileClaim&) = delete;
    ProfileClaim& operator=(const ProfileClaim&) = delete;

    const QString& name() const { return m_name; }
    QString folder() const { return profileFolder(m_name); }
    bool owned() const { return m_owned; }

private:
    QString m_name;
    std::unique_ptr<QLockFile> m_lock;
    bool m_owned = true;
};

} // namespace kirt
