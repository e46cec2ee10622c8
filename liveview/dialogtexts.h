#pragma once

#include <QString>

// What the value dialog tells the operator, shared with the main window: the title of every
// box and the failed exchange. The window's other texts are in workflowtexts.h.
namespace liveview {

inline const QString messageTitle = QStringLiteral("ВЕРТАЛ-КП");
inline const QString exchangeFailedText = QStringLiteral("Ошибка обмена !");

} // namespace liveview
