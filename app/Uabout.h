#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class Tabout;
}

// The About box: product line, contact lines, the project page and two memory figures.
class Tabout : public QDialog
{
    Q_OBJECT

public:
    explicit Tabout(QWidget* parent = nullptr);
    ~Tabout() override;

    void FormShow();
    void Label7Click();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::Tabout> m_ui;
};

// The box last built; start-up builds one that is never shown.
extern Tabout* about;
