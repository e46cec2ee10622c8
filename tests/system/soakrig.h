#pragma once

#include "unitbench.h"

#include <QStringList>
#include <QTemporaryDir>

class QDialog;
class QMessageBox;
class QProgressDialog;

// The folder that holds the soak's fixed link path; a base of SoakRig so that it exists
// before the bench starts the line in it.
struct SoakLinkFolder
{
    QTemporaryDir dir;
};

// What the soak drives: the default unit's bench (UnitBench) behind a fixed link path, so
// that a fresh line after an unplug is found by the next search under the same name. The
// soak's operator answers every box itself: the bench's box watcher is stopped.
class SoakRig : private SoakLinkFolder, public UnitBench
{
public:
    SoakRig();

    bool isReady() const { return dir.isValid() && UnitBench::isReady(); }

    // The modal widget on top, by kind; null when another (or none) is on top.
    static QMessageBox *messageBox();
    static QProgressDialog *progressDialog();
    static QDialog *valueDialog();
    // True while a modal widget stands above the main window.
    static bool modalOpen();

    // Board positions of each kind in the unit right now, ascending, as item texts.
    QStringList unitBoards(int kind) const;
};
