#pragma once

#include "app/dialogs.h"

#include <QPrinter>
#include <QStringList>

#include <deque>
#include <optional>
#include <utility>

namespace kirt::test {

// Stands in for every message box while it lives: records what was shown and answers
// questions from a queue (No when the queue is empty).
//
// File dialogs take their answers from `paths` (an empty string, or an empty queue, is a
// cancel; several files are one answer, their paths joined with new lines); the open dialog's
// read-only box ends as `openReadOnly`. Number questions take their answers from `integers`
// (nothing, or an empty queue, is a cancel). The print set-up takes its answers from `printFiles`:
// a path confirms it and sends the job to that PDF file, an empty string or an empty queue cancels.
// Text questions take their answers from `texts`.
class DialogAnswerer final : public kirt::UserDialogs
{
public:
    DialogAnswerer() { kirt::setDialogs(this); }
    ~DialogAnswerer() override { kirt::setDialogs(nullptr); }
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

    QString openFile(QWidget*, const QList<kirt::FileFilter>& filters, int selected,
                     bool* readOnly) override
    {
        fileDialogs << QStringLiteral("open");
        record(filters, selected);
        readOnlyOffered = readOnly != nullptr;
        if (readOnly)
            *readOnly = openReadOnly;
        return nextPath();
    }
    QString saveFile(QWidget*, const QList<kirt::FileFilter>& filters, int selected,
                     const QString& defaultSuffix) override
    {
        fileDialogs << QStringLiteral("save");
        record(filters, selected);
        suffixes << defaultSuffix;
        return nextPath();
    }
    QStringList openFiles(QWidget*, const QString&) override
    {
        fileDialogs << QStringLiteral("open files");
        return nextPath().split(u'\n', Qt::SkipEmptyParts);
    }
    QString chooseFolder(QWidget*, const QString&) override
    {
        fileDialogs << QStringLiteral("folder");
        return nextPath();
    }
    std::optional<int> askInteger(QWidget*, const QString&, const QString& label, int, int min,
                                  int max) override
    {
        integerQuestions << label;
        integerRanges << std::pair{min, max};
        if (integers.empty())
            return std::nullopt;
        const std::optional<int> answer = integers.front();
        integers.pop_front();
        // The real dialog cannot give a number outside its range.
        if (answer && (*answer < min || *answer > max))
            return std::nullopt;
        return answer;
    }
    std::optional<QString> askText(QWidget*, const QString&, const QString& label,
                                   const QString& text) override
    {
        textQuestions << label;
        textsOffered << text;
        if (texts.empty())
            return std::nullopt;
        const QString answer = texts.front();
        texts.pop_front();
        return answer;
    }
    bool print(QWidget*, QPrinter& printer) override
    {
        printJobNames << printer.docName();
        if (printFiles.empty())
            return false;
        const QString file = printFiles.front();
        printFiles.pop_front();
        if (file.isEmpty())
            return false;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file);
        return true;
    }

    QStringList errors;
    QStringList details;
    QStringList messages;
    QStringList questions;
    std::deque<bool> answers;

    QStringList fileDialogs;     // "open", "save", "open files" or "folder", in order
    QStringList selectedFilters; // the description of the entry each file dialog chose first
    QStringList filterLists;     // each file dialog's entries, descriptions joined with "|"
    QStringList suffixes;        // each save dialog's default extension
    bool readOnlyOffered = false;
    std::deque<QString> paths;
    bool openReadOnly = false;

    QStringList integerQuestions;
    QList<std::pair<int, int>> integerRanges;
    std::deque<std::optional<int>> integers;

    QStringList textQuestions;
    QStringList textsOffered;
    std::deque<QString> texts; // an empty queue is a cancel

    QStringList printJobNames;
    std::deque<QString> printFiles;

private:
    void record(const QList<kirt::FileFilter>& filters, int selected)
    {
        QStringList names;
        for (const kirt::FileFilter& f : filters)
            names << f.description;
        filterLists << names.join(u'|');
        selectedFilters << (selected >= 0 && selected < filters.size() ? names[selected]
                                                                       : QString());
    }
    QString nextPath()
    {
        if (paths.empty())
            return {};
        const QString path = paths.front();
        paths.pop_front();
        return path;
    }
};

} // namespace kirt::test
