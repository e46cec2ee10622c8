#pragma once

#include "devicegroup.h"
#include "serialport.h"

#include <QString>

// Tells the operator that the chosen port cannot be opened: "Не возможно открыть выбранный
// порт!" in a modal box with no parent, shown by the search right after it created the
// worker (cComPort::openFailed()). `advice` becomes the box's informative text.
void showPortOpenFailure(const QString &advice);

// Why the port at `path` did not open and what to do, in the operator's words: `kind` is
// the serial layer's error, `reason` the system's text. The cause is the unit library's
// (unit/openfailurecause.h), which vertal-cli words too. A permission failure names the
// device's group and how to join it. Empty for Cancelled: the operator ended the connection
// attempt himself ("Стоп"), and no box is shown.
QString portOpenAdvice(SerialPort::Error kind, const QString &path, const QString &reason);

// The group of the device that the permission advice names (link/devicegroup.h).
