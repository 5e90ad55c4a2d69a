#include "ui/transferdialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace kirt {

namespace {

QLabel* valueLabel(QWidget* parent, const char* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

QString minutesAndSeconds(std::int64_t seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

TransferDialog::TransferDialog(const QString& title, QWidget* parent)
    : QDialog(parent), m_file(valueLabel(this, "TransferFileLabel")),
      m_bytes(valueLabel(this, "TransferBytesLabel")), m_bar(new QProgressBar(this)),
      m_rate(valueLabel(this, "TransferRateLabel")),
      m_timeLeft(valueLabel(this, "TransferTimeLeftLabel")),
      m_retries(valueLabel(this, "TransferRetriesLabel")), m_cancel(new QPushButton(this))
{
    setObjectName(QStringLiteral("TransferDialog"));
    setWindowTitle(title);
    m_bar->setObjectName(QStringLiteral("TransferProgressBar"));
    m_bar->setRange(0, 0); // moving until a total is known
    m_bar->setMinimumWidth(360);
    m_cancel->setObjectName(QStringLiteral("TransferCancelButton"));
    m_cancel->setText(QStringLiteral("Cancel"));
    connect(m_cancel, &QPushButton::clicked, this, &TransferDialog::cancelRequested);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("File:"), m_file);
    form->addRow(QStringLiteral("Bytes:"), m_bytes);
    form->addRow(QStringLiteral("Rate:"), m_rate);
    form->addRow(QStringLiteral("Time left:"), m_timeLeft);
    form->addRow(QStringLiteral("Retries:"), m_retries);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(m_cancel, QDialogButtonBox::RejectRole);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_bar);
    layout->addWidget(buttons);
    showProgress({});
}

void TransferDialog::showProgress(const TransferProgress& progress)
{
    const QLocale english(QLocale::English);
    m_file->setText(progress.file.isEmpty() ? QStringLiteral("(waiting for the other side)")
                                            : progress.file);
    const std::int64_t total = progress.total >= 0 ? progress.total : progress.fileSize;
    const std::int64_t done = progress.total >= 0 ? progress.done : progress.fileDone;
    m_bytes->setText(
        total >= 0 ? QStringLiteral("%1 of %2")
                         .arg(english.toString(qlonglong(done)), english.toString(qlonglong(total)))
                   : english.toString(qlonglong(progress.done)));
    if (total > 0) {
        // Per mille: a bar's range is an int, a file may be larger.
        m_bar->setRange(0, 1000);
        m_bar->setValue(static_cast<int>(std::clamp<std::int64_t>(done * 1000 / total, 0, 1000)));
    }
    const double seconds = static_cast<double>(progress.ms) / 1000.0;
    const double rate = seconds > 0 ? static_cast<double>(progress.done) / seconds : 0.0;
    m_rate->setText(QStringLiteral("%1 B/s").arg(english.toString(qlonglong(rate + 0.5))));
    m_timeLeft->setText(total > 0 && rate > 0 ? minutesAndSeconds(static_cast<std::int64_t>(
                                                    static_cast<double>(total - done) / rate + 0.5))
                                              : QStringLiteral("-"));
    m_retries->setText(QString::number(progress.retries));
}

void TransferDialog::reject()
{
    // Escape or the close box: the transfer ends, and the dialog with it.
    emit cancelRequested();
}

} // namespace kirt
