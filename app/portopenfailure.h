#pragma once

#include "serialport.h"

#include <QString>

// Tells the operator that the chosen port cannot be opened: "Не возможно открыть выбранный
// порт!" in a modal box with no parent, shown by the search right after it created the
// worker (cComPort::openFailed()). `advice` becomes the box's informative text.
void showPortOpenFailure(const QString &advice);

// Why the port at `path` did not open and what to do, in the operator's words: `kind` is
// the serial layer's error, `reason` the system's text. A permission failure names the
// device's group and how to join it. Empty for Cancelled: the operator ended the connection
// attempt himself ("Стоп"), and no box is shown.
QString portOpenAdvice(SerialPort::Error kind, const QString &path, const QString &reason);

// The group that owns the device at `path`, which a user may join to use it; empty when it
// cannot be told, when it is root's (or on Windows).
QString deviceGroup(const QString &path);
