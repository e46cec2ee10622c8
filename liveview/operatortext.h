#pragma once

#include <QCoreApplication>
#include <QString>
#include <utility>

// A text the operator reads: its source (Russian, UTF-8) and the translation context it is
// looked up in, the form's own ("MainWindow", "Dialog"). Read as a QString it is the
// installed translation, or the source itself when none is installed (the window as it is
// without --language). Written with QT_TRANSLATE_NOOP so that lupdate finds it.
struct OperatorText
{
    const char *context;
    const char *source;

    operator QString() const { return QCoreApplication::translate(context, source); }
    QString toString() const { return *this; }
    template <typename... Args> QString arg(Args &&...args) const
    {
        return toString().arg(std::forward<Args>(args)...);
    }
};
