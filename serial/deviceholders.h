#pragma once

#include <QString>

#include <sys/types.h>

#include <vector>

namespace kirt {

// A process that has a device open.
struct DeviceHolder
{
    pid_t pid = 0;
    QString name; // its command name, as ps shows it
};

// The other processes that have the device open, lowest process number first, as far as the
// process table tells: a process whose descriptors we may not read (another user's) is not
// seen, and what the scan has not reached after budgetMs is left out.
std::vector<DeviceHolder> deviceHolders(const QString& devicePath, int budgetMs = 200);

// "in use by minicom, process 4711", with ", and 2 others" when there are more; empty when
// nobody was found.
QString holderWords(const std::vector<DeviceHolder>& holders);

} // namespace kirt
