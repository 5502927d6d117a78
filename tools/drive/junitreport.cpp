#include "junitreport.h"

#include <QDateTime>
#include <QFile>
#include <QXmlStreamWriter>

#include <algorithm>

namespace JUnitReport {

namespace {

QString seconds(double value)
{
    return QString::number(value, 'f', 3);
}

int countOf(const QVector<ScriptResult> &results, ScriptResult::Outcome outcome)
{
    return int(std::count_if(results.cbegin(), results.cend(),
                             [outcome](const ScriptResult &result) { return result.outcome == outcome; }));
}

void writeTestCase(QXmlStreamWriter &xml, const ScriptResult &result)
{
    using Outcome = ScriptResult::Outcome;
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("name"), result.path);
    xml.writeAttribute(QStringLiteral("classname"), QStringLiteral("velmo-drive"));
    xml.writeAttribute(QStringLiteral("file"), result.path);
    xml.writeAttribute(QStringLiteral("time"), seconds(result.seconds));
    const QString where = QStringLiteral("%1:%2: ").arg(result.path).arg(result.line);
    switch (result.outcome) {
    case Outcome::Passed:
        break;
    case Outcome::Failed:
        xml.writeStartElement(QStringLiteral("failure"));
        xml.writeAttribute(QStringLiteral("message"), where + result.step + QStringLiteral(": ") + result.problem);
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("expectation"));
        xml.writeCharacters(QStringLiteral("line %1: %2\n%3\n%4")
                                .arg(result.line)
                                .arg(result.step, result.problem, result.screens));
        xml.writeEndElement();
        break;
    case Outcome::Error:
        xml.writeStartElement(QStringLiteral("error"));
        xml.writeAttribute(QStringLiteral("message"), where + result.problem);
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("connection"));
        xml.writeCharacters(result.screens);
        xml.writeEndElement();
        break;
    case Outcome::NotRun:
        xml.writeEmptyElement(QStringLiteral("skipped"));
        xml.writeAttribute(QStringLiteral("message"), result.problem);
        break;
    }
    xml.writeEndElement();
}

} // namespace

bool write(const QString &fileName, const QVector<ScriptResult> &results, double totalSeconds, QString *error)
{
    using Outcome = ScriptResult::Outcome;
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QStringLiteral("cannot write the JUnit report %1: %2").arg(fileName, file.errorString());
        return false;
    }
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("velmo-drive"));
    xml.writeAttribute(QStringLiteral("tests"), QString::number(results.size()));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(countOf(results, Outcome::Failed)));
    xml.writeAttribute(QStringLiteral("errors"), QString::number(countOf(results, Outcome::Error)));
    xml.writeAttribute(QStringLiteral("skipped"), QString::number(countOf(results, Outcome::NotRun)));
    xml.writeAttribute(QStringLiteral("time"), seconds(totalSeconds));
    xml.writeAttribute(QStringLiteral("timestamp"),
                       QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    for (const ScriptResult &result : results)
        writeTestCase(xml, result);
    xml.writeEndElement();
    xml.writeEndDocument();
    if (xml.hasError() || !file.flush()) {
        *error = QStringLiteral("cannot write the JUnit report %1: %2").arg(fileName, file.errorString());
        return false;
    }
    return true;
}

} // namespace JUnitReport
