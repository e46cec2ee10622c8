#include "soakrig.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QProgressDialog>

SoakRig::SoakRig() : UnitBench(defaultUnit(), dir.filePath(QStringLiteral("ttyUNIT")))
{
    watcher.stop();
}

QMessageBox *SoakRig::messageBox()
{
    return qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
}

QProgressDialog *SoakRig::progressDialog()
{
    return qobject_cast<QProgressDialog *>(QApplication::activeModalWidget());
}

QDialog *SoakRig::valueDialog()
{
    QWidget *top = QApplication::activeModalWidget();
    if (top && qstrcmp(top->metaObject()->className(), "Dialog") == 0)
        return qobject_cast<QDialog *>(top);
    return nullptr;
}

// The main window is itself application-modal (its form says so): only what stands above
// it counts.
bool SoakRig::modalOpen()
{
    QWidget *top = QApplication::activeModalWidget();
    return top && !qobject_cast<MainWindow *>(top);
}

QStringList SoakRig::unitBoards(int kind) const
{
    const UnitState state = unit.state();
    QStringList positions;
    for (int p = 1; p <= 4; ++p)
        if (state.boardKind(p) == kind)
            positions << QString::number(p);
    return positions;
}
