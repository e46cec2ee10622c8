#pragma once

#include <QString>
#include <QStringList>

class QComboBox;
class QDialog;
class QObject;
class UnitBench;

// Readers of the window's picture that the window tests share.

// The texts of a combo box's items, in order.
QStringList itemsOf(const QComboBox *combo);

// Names of the window's controls that are enabled now, in a fixed order.
QStringList enabledControls(const UnitBench &bench);

// The idle picture: "Старт", no poll, only address, port and start enabled, no input boards,
// the relay list "Не задано" alone, no status and no version shown.
bool looksIdle(const UnitBench &bench);

// Every text the window shows in a message box (all titled `workflow::messageTitle`).
QStringList windowMessages();

// The live value dialog when it is the modal window shown now, else null.
QDialog *openValueDialog();

// The value the dialog shows.
QString shownValue(const QDialog *dialog);

// Opens or closes the simulated unit's case (its tamper).
void setCaseOpen(UnitBench &bench, bool open);

// Descriptors of this process open on `device` (the wizard's side of the line), also once
// the device node has gone.
int openDescriptorsOn(const QString &device);

// The description changes a screen reader is told of while it lives, by the object each was
// raised on. One at a time.
class ScreenReaderLog
{
public:
    ScreenReaderLog();
    ~ScreenReaderLog();
    ScreenReaderLog(const ScreenReaderLog &) = delete;
    ScreenReaderLog &operator=(const ScreenReaderLog &) = delete;

    int count(const QObject *object) const;
    void clear();
};
