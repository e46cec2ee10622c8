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

    // Before anything opens a file or a port: a standard output the caller closed is held
    // on the null device, so that no port or file takes its place and gets the results;
    // every result then fails as not written.
    static void guardStandardOutput();

    bool json() const { return asJson; }
    // One result: `object` as a JSON line, or `human` (lines without the final line feed).
    // ExitDone, or ExitWriteFailed (said on standard error) when standard output does not
    // take it (closed, a full disk): a script must not take a result it never got.
    [[nodiscard]] int result(const QJsonObject &object, const QString &human) const;
    // "vertal-cli: <text>" on standard error.
    static void error(const QString &text);

private:
    bool asJson;
};
