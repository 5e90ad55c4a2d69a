#pragma once

#include "app/dialogs.h"

#include <QStringList>

#include <deque>

namespace kirt::test {

// Stands in for every message box while it lives: records what was shown and answers
// questions from a queue (No when the queue is empty).
class DialogAnswerer final : public UserDialogs
{
public:
    DialogAnswerer() { setDialogs(this); }
    ~DialogAnswerer() override { setDialogs(nullptr); }
    DialogAnswerer(const DialogAnswerer&) = delete;
    DialogAnswerer& operator=(const DialogAnswerer&) = delete;

    void error(QWidget*, const QString& text, const QString& detail) override
    {
        errors << text;
        details << detail;
    }
    void message(QWidget*, const QString& text, const QString& detail) override
    {
        messages << text;
        details << detail;
    }
    bool confirm(QWidget*, const QString& text) override
    {
        questions << text;
        if (answers.empty())
            return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }

    QStringList errors;
    QStringList details;
    QStringList messages;
    QStringList questions;
    std::deque<bool> answers;
};

} // namespace kirt::test
