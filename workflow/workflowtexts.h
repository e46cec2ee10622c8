#pragma once

#include <QString>

// Texts, masks and timings the window and its operations share: the one home of what the
// operator reads in the title of every box and in the window's messages.
namespace workflow {

inline QString messageTitle()
{
    return QStringLiteral("ВЕРТАЛ-КП");
}
inline QString startText()
{
    return QStringLiteral("Старт");
}
inline QString stopText()
{
    return QStringLiteral("Стоп");
}
inline QString noRelayText()
{
    return QStringLiteral("Не задано");
}
inline QString exchangeFailedText()
{
    return QStringLiteral("Ошибка обмена !");
}
inline QString noPortText()
{
    return QStringLiteral("COM-порт не обнаружен !\n Конец работы ...");
}
inline QString portOpenFailedText()
{
    return QStringLiteral("Не возможно открыть выбранный порт!");
}

constexpr int idleMask = 0x1003;
constexpr int inputBoardMask = 0x1878;
constexpr int relayBoardMask = 0x2780;
constexpr int boardTypeMask = 0x3ff8;

} // namespace workflow
