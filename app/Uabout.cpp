#include "app/Uabout.h"

#include "app/core/memorystatus.h"
#include "ui_Uabout.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

Tabout* about = nullptr;

Tabout::Tabout(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::Tabout>())
{
    m_ui->setupUi(this);
    connect(m_ui->OKButton, &QPushButton::clicked, this, &QDialog::accept);
    m_ui->Label7->installEventFilter(this);
}

Tabout::~Tabout() = default;

void Tabout::showEvent(QShowEvent* event)
{
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
