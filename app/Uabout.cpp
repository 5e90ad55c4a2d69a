#include "app/Uabout.h"

#include "app/logic/memorystatus.h"
// The form's own parameter is named after the box, like the global that holds it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
#include "ui_Uabout.h"
#pragma GCC diagnostic pop

#include <QDesktopServices>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QUrl>

Tabout* about = nullptr;

Tabout::Tabout(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::Tabout>())
{
    m_ui->setupUi(this);
    // A dialog border with the close box only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    connect(m_ui->OKButton, &QPushButton::clicked, this, &QDialog::accept);
    m_ui->Label7->installEventFilter(this);
}

Tabout::~Tabout() = default;

void Tabout::showEvent(QShowEvent* event)
{
    // Centred on the screen, not on the window that opened it.
    const QScreen* screen = parentWidget() ? parentWidget()->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen && !event->spontaneous())
        move(screen->geometry().center() - rect().center());
    FormShow();
    QDialog::showEvent(event);
}

void Tabout::FormShow()
{
    const kirt::MemoryStatus status = kirt::ReadMemoryStatus();
    m_ui->PhysMem->setText(kirt::PhysicalMemoryText(status.totalBytes));
    m_ui->FreeRes->setText(kirt::MemoryLoadText(status.loadPercent));
}

void Tabout::Label7Click()
{
    // The user's default browser; if none starts, nothing happens.
    QDesktopServices::openUrl(QUrl(m_ui->Label7->text()));
}

bool Tabout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui->Label7 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Label7Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
