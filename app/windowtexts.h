#pragma once

#include "dialogtexts.h"
#include "operatortext.h"

// What the window itself shows, before and beside its operations on the unit: the box that
// ends a program without ports, the box of a port that will not open, and the controls left
// enabled while no unit is connected. The operations' texts are in workflow/workflowtexts.h,
// which takes these from here: the operations stand on the window, not the window on them.
namespace app {

// The window's texts, looked up in its form's context (each marked for lupdate).
constexpr OperatorText windowText(const char *source)
{
    return {"MainWindow", source};
}

using liveview::messageTitle;
inline constexpr OperatorText noPortText =
    windowText(QT_TRANSLATE_NOOP("MainWindow", "COM-порт не обнаружен !\n Конец работы ..."));
inline constexpr OperatorText portOpenFailedText =
    windowText(QT_TRANSLATE_NOOP("MainWindow", "Не возможно открыть выбранный порт!"));

// The controls enabled while no unit is connected (bits of MainWindow::enableControls); the
// masks the boards allow are the unit's (unit/boardlist.h).
constexpr int idleMask = 0x1003;

} // namespace app
