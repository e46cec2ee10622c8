#pragma once

#include "dialogtexts.h"

#include <QString>

// Texts, masks and timings the window and its operations share: the one home of what the
// operator reads in the window's messages. The box title and the failed exchange are the
// value dialog's too, so they live below the window, in liveview/dialogtexts.h.
namespace workflow {

using liveview::messageTitle;
inline const QString startText = QStringLiteral("Старт");
inline const QString stopText = QStringLiteral("Стоп");
inline const QString noRelayText = QStringLiteral("Не задано");
using liveview::exchangeFailedText;
inline const QString noPortText = QStringLiteral("COM-порт не обнаружен !\n Конец работы ...");
inline const QString portOpenFailedText = QStringLiteral("Не возможно открыть выбранный порт!");
inline const QString searchingText = QStringLiteral("Поиск блока...");
inline const QString noUnitText = QStringLiteral("Блок не обнаружен!");
inline const QString noBoardsText = QStringLiteral("Нет плат для настройки! Выход...");
// %1.%2: the firmware's major and minor number.
inline const QString versionText = QStringLiteral("Версия прошивки : %1.%2");
inline const QString noInputBoardsText =
    QStringLiteral("Не обнаружены платы ввода !\nПосле изменения типа плат однократно нажмите "
                   "тампер и\nперезапустите поиск!");
inline const QString onTimeNotAbovePeriodText = QStringLiteral("Время меньше или равно периоду !");
inline const QString noRelayChosenText = QStringLiteral("Установите номер реле!");

// The control masks the boards allow are the unit's (unit/boardlist.h).
constexpr int idleMask = 0x1003;
constexpr int boardTypeMask = 0x3ff8;

} // namespace workflow
