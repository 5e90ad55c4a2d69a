#include "app/dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

namespace kirt {

namespace {

// The filter strings of a file dialog. The dialog is told to hide the patterns, so each entry
// shows its description alone, and "All Files(*.*)" can match names without a dot.
QStringList nameFilters(const QList<FileFilter>& filters)
{
    QStringList list;
    for (const FileFilter& f : filters)
        list << f.description + QStringLiteral(" (") + f.pattern + u')';
    return list;
}

void prepareFileDialog(QFileDialog& dialog, const QList<FileFilter>& filters, int selected)
{
    // The toolkit's own dialog, since a platform dialog cannot take the read-only check box.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    const QStringList list = nameFilters(filters);
    dialog.setNameFilters(list);
    if (selected >= 0 && selected < list.size())
        dialog.selectNameFilter(list[selected]);
}

class QtDialogs final : public UserDialogs
{
public:
    void error(QWidget* parent, const QString& text, const QString& detail) override
    {
        QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), text,
                        QMessageBox::Ok, parent);
        box.setInformativeText(detail);
        box.exec();
    }

    void message(QWidget* parent, const QString& text, const QString& detail) override
    {
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                        parent);
        box.setInformativeText(detail);
        box.exec();
    }

    bool confirm(QWidget* parent, const QString& text) override
    {
        QMessageBox box(QMessageBox::Question, QApplication::applicationName(), text,
                        QMessageBox::Yes | QMessageBox::No, parent);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    }

    QString openFile(QWidget* parent, const QList<FileFilter>& filters, int selected,
                     bool* readOnly) override
    {
        QFileDialog dialog(parent, QStringLiteral("Open"));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        prepareFileDialog(dialog, filters, selected);
        auto* readOnlyBox = new QCheckBox(QStringLiteral("Open as &read-only"), &dialog);
        readOnlyBox->setChecked(readOnly && *readOnly);
        readOnlyBox->setVisible(readOnly != nullptr);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
            grid->addWidget(readOnlyBox, grid->rowCount(), 0, 1, grid->columnCount());
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        if (readOnly)
            *readOnly = readOnlyBox->isChecked();
        return dialog.selectedFiles().constFirst();
    }

    QString saveFile(QWidget* parent, const QList<FileFilter>& filters, int selected,
                     const QString& defaultSuffix) override
    {
        QFileDialog dialog(parent, QStringLiteral("Save As"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        // Set here too, so the dialog's overwrite question names the file really written.
        dialog.setDefaultSuffix(defaultSuffix);
        prepareFileDialog(dialog, filters, selected);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().constFirst();
    }

    QStringList openFiles(QWidget* parent, const QString& title) override
    {
        QFileDialog dialog(parent, title);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
    }

    QString chooseFolder(QWidget* parent, const QString& title) override
    {
        QFileDialog dialog(parent, title);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().constFirst();
    }

    std::optional<int> askInteger(QWidget* parent, const QString& title, const QString& label,
                                  int value, int min, int max) override
    {
        bool ok = false;
        const int answer = QInputDialog::getInt(parent, title, label, value, min, max, 1, &ok);
        if (!ok)
            return std::nullopt;
        return answer;
    }

    std::optional<QString> askText(QWidget* parent, const QString& title, const QString& label,
                                   const QString& text) override
    {
        bool ok = false;
        const QString answer =
            QInputDialog::getText(parent, title, label, QLineEdit::Normal, text, &ok);
        if (!ok)
            return std::nullopt;
        return answer;
    }

    bool print(QWidget* parent, QPrinter& printer) override
    {
        QPrintDialog dialog(&printer, parent);
        return dialog.exec() == QDialog::Accepted;
    }
};

QtDialogs g_qtDialogs;
UserDialogs* g_replacement = nullptr;

} // namespace

UserDialogs& dialogs()
{
    return g_replacement ? *g_replacement : g_qtDialogs;
}

void setDialogs(UserDialogs* replacement)
{
    g_replacement = replacement;
}

} // namespace kirt
