#include "statuslooks.h"

#include <QCoreApplication>

// Idle shows two spaces on grey: the field looks empty but stays visibly a field, and a
// screen reader says that no board is being watched.
const StatusLook statusTable[statusLookCount] = {
    {"  ", Qt::lightGray, Qt::black, QT_TRANSLATE_NOOP("MainWindow", "Опрос не идёт")},
    {QT_TRANSLATE_NOOP("MainWindow", "Норма"), Qt::green, Qt::black,
     QT_TRANSLATE_NOOP("MainWindow", "Норма")},
    {QT_TRANSLATE_NOOP("MainWindow", "Неисправность"), Qt::yellow, Qt::black,
     QT_TRANSLATE_NOOP("MainWindow", "Неисправность")},
    {QT_TRANSLATE_NOOP("MainWindow", "Тревога"), Qt::red, Qt::black,
     QT_TRANSLATE_NOOP("MainWindow", "Тревога")},
};

Look lookFor(unit::BoardStatus status)
{
    switch (status) {
    case unit::BoardStatus::Alarm:
        return LookAlarm;
    case unit::BoardStatus::Fault:
        return LookFault;
    case unit::BoardStatus::Normal:
        break;
    }
    return LookNormal;
}
