#pragma once

#include "mainwindow.h"
#include "simunit.h"
#include "unitserver.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class QComboBox;
class QDialog;
class QMessageBox;
class QProgressDialog;

// What the soak drives: a simulated unit served on a pseudo-terminal behind a fixed link
// path (so that a fresh line after an unplug is found by the next search under the same
// name), and the real main window offering only that path.
class SoakRig
{
public:
    SoakRig();
    ~SoakRig();

    bool isReady() const { return ready; }
    QString errorString() const { return error; }

    template <class T> T *control(const char *objectName) const
    {
        return window->findChild<T *>(QLatin1String(objectName));
    }
    QString startText() const;
    QStringList items(const char *comboName) const;

    // The modal widget on top, by kind; null when another (or none) is on top.
    static QMessageBox *messageBox();
    static QProgressDialog *progressDialog();
    static QDialog *valueDialog();
    // True while a modal widget stands above the main window.
    static bool modalOpen();

    // Board positions of each kind in the unit right now, ascending, as item texts.
    QStringList unitBoards(int kind) const;

    SimUnit unit;
    UnitServer server;
    std::unique_ptr<MainWindow> window;

private:
    QTemporaryDir dir;
    QString linkPath;
    bool ready = false;
    QString error;
};
