#include "app/Uabout.h"
#include "app/Umain.h"
#include "app/dialogs.h"

#include <QApplication>

#include <exception>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kirt"));
    try {
        TFmain Fmain;
        about = new Tabout(&Fmain);
        Fmain.show();
        QApplication::exec();
    } catch (const std::exception& e) {
        kirt::dialogs().error(nullptr, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        kirt::dialogs().error(nullptr, QString());
    }
    return 0;
}
