#pragma once

#include "operatortext.h"

// What the value dialog tells the operator, shared with the main window: the title of every
// box and the failed exchange. The window's other texts are in workflowtexts.h.
namespace liveview {

inline constexpr OperatorText messageTitle{"Dialog", QT_TRANSLATE_NOOP("Dialog", "ВЕРТАЛ-КП")};
inline constexpr OperatorText exchangeFailedText{"Dialog",
                                                 QT_TRANSLATE_NOOP("Dialog", "Ошибка обмена !")};

} // namespace liveview
