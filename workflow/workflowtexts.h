#pragma once

#include "dialogtexts.h"
#include "operatortext.h"
#include "windowtexts.h"

// Texts, masks and timings the window's operations show: with the texts of the window
// itself (app/windowtexts.h), named here too, what the operator reads in the window's
// messages. The box title and the failed exchange are the value dialog's too, so they live
// below the window, in liveview/dialogtexts.h.
namespace workflow {

using app::windowText;

using liveview::messageTitle;
inline constexpr OperatorText startText = windowText(QT_TRANSLATE_NOOP("MainWindow", "Старт"));
inline constexpr OperatorText stopText = windowText(QT_TRANSLATE_NOOP("MainWindow", "Стоп"));
inline constexpr OperatorText noRelayText =
    windowText(QT_TRANSLATE_NOOP("MainWindow", "Не задано"));
using app::noPortText;
using app::portOpenFailedText;
using liveview::exchangeFailedText;
inline constexpr OperatorText searchingText =
    windowText(QT_TRANSLATE_NOOP("MainWindow", "Поиск блока..."));
inline constexpr OperatorText noUnitText =
    windowText(QT_TRANSLATE_NOOP("MainWindow", "Блок не обнаружен!"));
inline constexpr OperatorText noBoardsText =
    windowText(QT_TRANSLATE_NOOP("MainWindow", "Нет плат для настройки! Выход..."));
// %1.%2: the firmware's major and minor number.
inline constexpr OperatorText versionText =
    windowText(QT_TRANSLATE_NOOP("MainWindow", "Версия прошивки : %1.%2"));
inline constexpr OperatorText noInputBoardsText = windowText(QT_TRANSLATE_NOOP(
    "MainWindow", "Не обнаружены платы ввода !\nПосле изменения типа плат однократно нажмите "
                  "тампер и\nперезапустите поиск!"));
inline constexpr OperatorText onTimeNotAbovePeriodText =
    windowText(QT_TRANSLATE_NOOP("MainWindow", "Время меньше или равно периоду !"));
inline constexpr OperatorText noRelayChosenText =
    windowText(QT_TRANSLATE_NOOP("MainWindow", "Установите номер реле!"));

// The control masks the boards allow are the unit's (unit/boardlist.h).
using app::idleMask;
constexpr int boardTypeMask = 0x3ff8;

} // namespace workflow
