#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QPrinter;
class QWidget;

namespace kirt {

// One entry of a file dialog's type list: what the user reads, and the names it shows.
struct FileFilter
{
    QString description;
    QString pattern;
};

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

    // Choosing an existing file to open, with filter entry `selected` (from 0) chosen first.
    // readOnly, when given, starts and ends as the dialog's open-as-read-only check box.
    // Empty when cancelled.
    virtual QString openFile(QWidget* parent, const QList<FileFilter>& filters, int selected,
                             bool* readOnly) = 0;
    // Choosing a file to write; defaultSuffix goes onto a name typed without an extension.
    // Empty when cancelled.
    virtual QString saveFile(QWidget* parent, const QList<FileFilter>& filters, int selected,
                             const QString& defaultSuffix) = 0;
    // Choosing one or more existing files; empty when cancelled.
    virtual QStringList openFiles(QWidget* parent, const QString& title) = 0;
    // Choosing an existing folder; empty when cancelled.
    virtual QString chooseFolder(QWidget* parent, const QString& title) = 0;
    // A whole number between min and max, value offered first. Nothing when cancelled.
    virtual std::optional<int> askInteger(QWidget* parent, const QString& title,
                                          const QString& label, int value, int min, int max) = 0;
    // A line of text, text offered first. Nothing when cancelled.
    virtual std::optional<QString> askText(QWidget* parent, const QString& title,
                                           const QString& label, const QString& text) = 0;

    // The print set-up for printer; true when the user confirmed it.
    virtual bool print(QWidget* parent, QPrinter& printer) = 0;
};

// The dialogs in force: the real ones unless a test installed its own.
UserDialogs& dialogs();
// Installs replacement dialogs (nullptr restores the real ones); the caller keeps ownership.
void setDialogs(UserDialogs* replacement);

} // namespace kirt
