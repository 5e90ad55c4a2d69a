#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace kirt {

// The outcome of a command line: options to go on with, or a text to print and an exit code
// (help and version on standard output with 0, a mistake on standard error with 2).
template <typename Options> struct ParsedArguments
{
    std::optional<Options> options;
    QString text;
    int exitCode = 0;
};

// What every program of Kirt's command line shares: the parse, no bare arguments, --help and
// --version (-h, -v) answered before anything else is checked. Nothing when the options
// are to be read on; otherwise the text to end with and its exit code. `mistake` words a
// mistake as the program does.
struct CommonArguments
{
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, {}};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")}, {}};

    template <typename Options>
    std::optional<ParsedArguments<Options>>
    parse(QCommandLineParser& parser, const QStringList& arguments, const QString& helpText,
          const QString& versionText,
          const std::function<ParsedArguments<Options>(const QString&)>& mistake) const
    {
        parser.addOptions({help, version});
        if (!parser.parse(arguments))
            return mistake(parser.errorText());
        if (!parser.positionalArguments().isEmpty())
            return mistake(QStringLiteral("unexpected argument '%1'")
                               .arg(parser.positionalArguments().constFirst()));
        if (parser.isSet(help))
            return ParsedArguments<Options>{std::nullopt, helpText, 0};
        if (parser.isSet(version))
            return ParsedArguments<Options>{std::nullopt, versionText, 0};
        return std::nullopt;
    }
};

// --port's value as the port box names it ("com3" is COM3); empty, with the mistake's text
// in refusal, for anything but COM1..COM30.
QString portArgument(const QString& value, QString& refusal);

} // namespace kirt
