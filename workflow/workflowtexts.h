#pragma once

#include <QString>

// Texts, masks and timings the window and its operations share: the one home of what the
// operator reads in the title of every box and in the window's messages.
namespace workflow {

inline const QString messageTitle = QStringLiteral("ВЕРТАЛ-КП");
inline const QString startText = QStringLiteral("Старт");
inline const QString stopText = QStringLiteral("Стоп");
inline const QString noRelayText = QStringLiteral("Не задано");
inline const QString exchangeFailedText = QStringLiteral("Ошибка обмена !");
inline const QString noPortText = QStringLiteral("COM-порт не обнаружен !\n Конец работы ...");
inline const QString portOpenFailedText = QStringLiteral("Не возможно открыть выбранный порт!");

constexpr int idleMask = 0x1003;
constexpr int inputBoardMask = 0x1878;
constexpr int relayBoardMask = 0x2780;
constexpr int boardTypeMask = 0x3ff8;

} // namespace workflow
