#pragma once

#include <QString>

class QWidget;

// Every message box of the program goes through here, so tests can answer them.
class UserDialogs
{
public:
    virtual ~UserDialogs() = default;

    // Error icon and one OK button; detail becomes the box's informative text.
    virtual void error(QWidget* parent, const QString& text, const QString& detail = {}) = 0;
    // A plain box with one OK button.
    virtual void message(QWidget* parent, const QString& text, const QString& detail = {}) = 0;
    // Yes and No; true only for Yes.
    virtual bool confirm(QWidget* parent, const QString& text) = 0;
};

// The dialogs in force: the real ones unless a test installed its own.
UserDialogs& dialogs();
// Installs replacement dialogs (nullptr restores the real ones); the caller keeps ownership.
void setDialogs(UserDialogs* replacement);
