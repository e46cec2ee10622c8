#include "statuslooks.h"

// Idle shows two spaces on grey: the field looks empty but stays visibly a field.
const StatusLook statusTable[statusLookCount] = {
    {"  ", Qt::lightGray, Qt::black},
    {"Норма", Qt::green, Qt::black},
    {"Неисправность", Qt::yellow, Qt::black},
    {"Тревога", Qt::red, Qt::black},
};
