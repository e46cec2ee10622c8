#include "soakrig.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

namespace {

// Address 1 at 4800 baud, input boards at 1 and 3, a relay board at 2, firmware 1.5.
UnitState firstUnit()
{
    UnitState state;
    state.address = 1;
    state.lineSpeed = 4800;
    state.boardMap = 0x19;
    state.versionMajor = 1;
    state.versionMinor = 5;
    return state;
}

} // namespace

SoakRig::SoakRig() : unit(firstUnit()), server(unit)
{
    linkPath = dir.filePath(QStringLiteral("ttyUNIT"));
    ready = dir.isValid() && server.start(linkPath);
    if (!ready)
        error = server.errorString();
    const QString path = linkPath;
    window = std::make_unique<MainWindow>(nullptr, [path] { return QStringList{path}; });
    window->show();
}

SoakRig::~SoakRig()
{
    window.reset();
    server.stop();
}

QString SoakRig::startText() const
{
    return control<QPushButton>("start")->text();
}

QStringList SoakRig::items(const char *comboName) const
{
    const QComboBox *combo = control<QComboBox>(comboName);
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
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
