#include "app/dialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace {

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
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text,
                        QMessageBox::Ok, parent);
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
