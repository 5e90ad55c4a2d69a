#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

namespace kirt::test {

// Sets one variable (or unsets it, given no value) while it lives and puts the old one back.
class EnvironmentOverride
{
public:
    EnvironmentOverride(const char* name, const std::optional<QByteArray>& value)
        : m_name(name), m_oldValue(qgetenv(name)), m_hadValue(qEnvironmentVariableIsSet(name))
    {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~EnvironmentOverride()
    {
        if (m_hadValue)
            qputenv(m_name.constData(), m_oldValue);
        else
            qunsetenv(m_name.constData());
    }
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

private:
    QByteArray m_name;
    QByteArray m_oldValue;
    bool m_hadValue = false;
};

} // namespace kirt::test
