#pragma once

#include <QComboBox>
#include <QObject>
#include <QPlainTextEdit>
#include <QString>

namespace kirt::test {

// A control by its name below parent; a missing one ends the test run at once.
template <typename T> T* find(const QObject* parent, const QString& name)
{
    auto* control = parent->findChild<T*>(name);
    if (!control)
        qFatal("no control %s", qPrintable(name));
    return control;
}

// Picks an item of a drop-down list as the user does, running the box's click handler.
inline void choose(const QObject* window, const QString& box, int index)
{
    auto* combo = find<QComboBox>(window, box);
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

// Protocol rule n answers the request with the response and is switched on, as a user does it.
inline void enableRule(const QObject* window, int n, const QString& request,
                       const QString& response)
{
    find<QPlainTextEdit>(window, QStringLiteral("RxEdit%1").arg(n))->setPlainText(request);
    find<QPlainTextEdit>(window, QStringLiteral("TxEdit%1").arg(n))->setPlainText(response);
    choose(window, QStringLiteral("ProtocolEnableComboBox%1").arg(n), 1);
}

} // namespace kirt::test
