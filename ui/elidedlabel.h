#pragma once

#include <QLabel>

namespace kirt {

// A one-line label that asks for room for its whole text but can be squeezed to none; a text too
// long for the room it gets is shown with its middle left out, and text() stays the whole text.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace kirt
