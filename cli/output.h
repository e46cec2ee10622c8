#pragma once

#include <QJsonObject>
#include <QString>

// Where results and errors go: results to standard output, as text for a person or as
// one JSON object per line for a program; errors to standard error, always as text.
// Every line is flushed at once, so that a stream can be read as it comes.
class Output
{
public:
    explicit Output(bool json) : asJson(json) {}

    bool json() const { return asJson; }
    // One result: `object` as a JSON line, or `human` (lines without the final line feed).
    void result(const QJsonObject &object, const QString &human) const;
    // "vertal-cli: <text>" on standard error.
    static void error(const QString &text);

private:
    bool asJson;
};
