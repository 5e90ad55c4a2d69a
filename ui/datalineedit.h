#pragma once

#include <QPlainTextEdit>

#include <functional>

namespace kirt {

// A one-row plain-text data field: no wrap, no scroll bars, a character limit on typing and
// pasting, and a hook that may replace or discard every typed character.
class DataLineEdit : public QPlainTextEdit
{
    Q_OBJECT

public:
    // Returns the character to insert, or 0 to discard the key.
    using KeyFilter = std::function<char16_t(char16_t)>;

    explicit DataLineEdit(QWidget* parent = nullptr);

    void setMaxLength(int maxLength) { m_maxLength = maxLength; }
    int maxLength() const { return m_maxLength; }
    void setKeyFilter(KeyFilter filter) { m_keyFilter = std::move(filter); }
    // Rewrites pasted or dropped text before the limit is applied (a hex dump's separators).
    using PasteFilter = std::function<QString(const QString&)>;
    void setPasteFilter(PasteFilter filter) { m_pasteFilter = std::move(filter); }

    // The characters exactly as stored, line breaks as "\n". (toPlainText() would turn a
    // no-break space into a plain one, and ASC data must go out byte for byte.)
    QString fieldText() const;
    QString selectedFieldText() const;

    // Leaves only the last line of the text (one edit, so change handlers see it once).
    void keepLastLine();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    int roomFor(int replacing) const;
    QString filterTyped(const QString& text) const;

    int m_maxLength = 1000;
    bool m_trimming = false;
    KeyFilter m_keyFilter;
    PasteFilter m_pasteFilter;
};

} // namespace kirt
