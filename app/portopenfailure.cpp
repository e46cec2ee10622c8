#include "portopenfailure.h"

#include <QMessageBox>

void showPortOpenFailure()
{
    QMessageBox::critical(nullptr, QStringLiteral("ВЕРТАЛ-КП"),
                          QStringLiteral("Не возможно открыть выбранный порт!"), QMessageBox::Yes);
}
