#include "statuslooks.h"

// Idle shows two spaces on grey: the field looks empty but stays visibly a field, and a
// screen reader says that no board is being watched.
const StatusLook statusTable[statusLookCount] = {
    {"  ", Qt::lightGray, Qt::black, "Опрос не идёт"},
    {"Норма", Qt::green, Qt::black, "Норма"},
    {"Неисправность", Qt::yellow, Qt::black, "Неисправность"},
    {"Тревога", Qt::red, Qt::black, "Тревога"},
};
