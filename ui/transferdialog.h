#pragma once

#include "transfer/transferresult.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kirt {

// A transfer's progress while it runs: the file, bytes done of the total, a bar, the rate, the
// time left and the retries, with Cancel. Closing it cancels too.
class TransferDialog final : public QDialog
{
    Q_OBJECT

public:
    TransferDialog(const QString& title, QWidget* parent);

    void showProgress(const TransferProgress& progress);

signals:
    void cancelRequested();

protected:
    void reject() override;

private:
    QLabel* m_file;
    QLabel* m_bytes;
    QProgressBar* m_bar;
    QLabel* m_rate;
    QLabel* m_timeLeft;
    QLabel* m_retries;
    QPushButton* m_cancel;
};

} // namespace kirt
