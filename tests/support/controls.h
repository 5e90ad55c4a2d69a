#pragma once

#include <QComboBox>
#include <QWidget>

namespace kirt::test {

// A control of the window by its name; a missing one ends the test run at once.
template <typename T> T* find(QWidget* window, const char* name)
{
    auto* control = window->findChild<T*>(QLatin1String(name));
    if (!control)
        qFatal("no control %s", name);
    return control;
}

// Picks an item of a drop-down list as the user does, running the box's click handler.
inline void choose(QWidget* window, const char* box, int index)
{
    auto* combo = find<QComboBox>(window, box);
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

} // namespace kirt::test
