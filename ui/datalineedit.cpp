#include "ui/datalineedit.h"

#include "base/codec.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>

namespace kirt {

DataLineEdit::DataLineEdit(QWidget* parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    document()->setDocumentMargin(2);
    setFixedHeight(sizeHint().height());
}

QSize DataLineEdit::sizeHint() const
{
    const int frame = 2 * frameWidth();
    const int margin = 2 * static_cast<int>(document()->documentMargin());
    return {200, fontMetrics().lineSpacing() + frame + margin + 2};
}

QSize DataLineEdit::minimumSizeHint() const
{
    return {40, sizeHint().height()};
}

int DataLineEdit::roomFor(int replacing) const
{
    const int used = static_cast<int>(toPlainText().size()) - replacing;
    return std::max(0, m_maxLength - used);
}

void DataLineEdit::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    const bool command = event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    // X11 gives Delete the text 7Fh and Backspace 08h: they edit, and are never data.
    const bool deleting = event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace;
    if (text.size() != 1 || (command && !enter) || deleting) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    char16_t key = enter ? u'\r' : text[0].unicode();
    if (m_keyFilter)
        key = m_keyFilter(key);
    if (key == 0 || key == u'\r' || key == u'\n') {
        event->accept();
        return;
    }
    QTextCursor cursor = textCursor();
    const int selected = cursor.selectionEnd() - cursor.selectionStart();
    if (roomFor(selected) < 1) {
        event->accept();
        return;
    }
    cursor.insertText(QString(QChar(key)));
    setTextCursor(cursor);
    event->accept();
}

void DataLineEdit::inputMethodEvent(QInputMethodEvent* event)
{
    // Committed text is typed text: each character passes the key rule, and the limit holds.
    const QString committed = event->commitString();
    if (committed.isEmpty()) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    QString kept = filterTyped(committed);
    const QTextCursor cursor = textCursor();
    kept.truncate(roomFor(cursor.selectionEnd() - cursor.selectionStart()));
    QInputMethodEvent filtered(event->preeditString(), event->attributes());
    filtered.setCommitString(kept, event->replacementStart(), event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&filtered);
    event->accept();
}

QString DataLineEdit::filterTyped(const QString& text) const
{
    QString kept;
    for (const QChar ch : text) {
        const char16_t key = m_keyFilter ? m_keyFilter(ch.unicode()) : ch.unicode();
        if (key != 0 && key != u'\r' && key != u'\n')
            kept += QChar(key);
    }
    return kept;
}

void DataLineEdit::insertFromMimeData(const QMimeData* source)
{
    if (!source->hasText())
        return;
    const QTextCursor cursor = textCursor();
    const int selected = cursor.selectionEnd() - cursor.selectionStart();
    // A line break counts as one character, as in the document.
    QString text = source->text();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    if (m_pasteFilter)
        text = m_pasteFilter(text);
    text.truncate(roomFor(selected));
    if (text.isEmpty())
        return;
    textCursor().insertText(text);
    ensureCursorVisible();
}

namespace {

QString withPlainBreaks(QString text)
{
    for (QChar& ch : text)
        if (ch == QChar::ParagraphSeparator || ch == QChar::LineSeparator)
            ch = u'\n';
    return text;
}

} // namespace

QString DataLineEdit::fieldText() const
{
    return withPlainBreaks(document()->toRawText());
}

QString DataLineEdit::selectedFieldText() const
{
    return withPlainBreaks(textCursor().selectedText());
}

void DataLineEdit::keepLastLine()
{
    // Deleting lines changes the text and re-enters the change handler: one pass is enough.
    if (m_trimming)
        return;
    const QString text = fieldText();
    const QString last = kirt::LastLineOf(text);
    if (last.size() == text.size())
        return;
    m_trimming = true;
    QTextCursor cursor(document());
    cursor.setPosition(0);
    cursor.setPosition(static_cast<int>(text.size() - last.size()), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    m_trimming = false;
    moveCursor(QTextCursor::End);
}

} // namespace kirt
