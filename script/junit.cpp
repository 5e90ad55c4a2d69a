#include "script/junit.h"

#include <QFileInfo>
#include <QXmlStreamWriter>

namespace kirt {

namespace {

QString seconds(double ms)
{
    return QString::number(ms / 1000.0, 'f', 3);
}

} // namespace

QByteArray junitReport(const QString& scriptName, const ScriptOutcome& outcome)
{
    const QString suite = QFileInfo(scriptName).completeBaseName();
    const ScriptTally tally = tallyOf(outcome);
    const QString& problem = tally.problem;

    QByteArray xml;
    QXmlStreamWriter out(&xml);
    out.setAutoFormatting(true);
    out.writeStartDocument();
    out.writeStartElement(QStringLiteral("testsuites"));
    out.writeStartElement(QStringLiteral("testsuite"));
    out.writeAttribute(QStringLiteral("name"), suite);
    out.writeAttribute(QStringLiteral("tests"), QString::number(tally.total));
    out.writeAttribute(QStringLiteral("failures"), QString::number(tally.failed));
    out.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
    out.writeAttribute(QStringLiteral("time"), seconds(outcome.ms));
    const auto testCase = [&](const QString& name, double ms, const QString& failure) {
        out.writeStartElement(QStringLiteral("testcase"));
        out.writeAttribute(QStringLiteral("classname"), suite);
        out.writeAttribute(QStringLiteral("name"), name);
        out.writeAttribute(QStringLiteral("time"), seconds(ms));
        if (!failure.isNull()) {
            out.writeStartElement(QStringLiteral("failure"));
            out.writeAttribute(QStringLiteral("message"), failure);
            out.writeCharacters(failure);
            out.writeEndElement();
        }
        out.writeEndElement();
    };
    for (const ScriptCase& c : outcome.cases)
        testCase(c.name, c.ms, c.passed ? QString() : c.reason);
    if (!problem.isEmpty())
        testCase(QFileInfo(scriptName).fileName(), outcome.ms, problem);
    out.writeEndElement();
    out.writeEndElement();
    out.writeEndDocument();
    return xml;
}

} // namespace kirt
