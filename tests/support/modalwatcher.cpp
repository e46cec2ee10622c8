#include "modalwatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

ModalWatcher::ModalWatcher(QObject *parent) : QObject(parent)
{
    connect(&timer, &QTimer::timeout, this, &ModalWatcher::look);
    timer.start(5);
}

QStringList ModalWatcher::texts() const
{
    QStringList result;
    for (const Box &box : seenBoxes)
        result << box.text;
    return result;
}

bool ModalWatcher::waitForBoxes(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return seenBoxes.size() >= count; }, timeoutMs);
}

void ModalWatcher::look()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    auto *box = qobject_cast<QMessageBox *>(modal);
    if (!box) {
        if (otherModal)
            otherModal(modal);
        return;
    }
    if (box != lastBox) {
        lastBox = box;
        Box seen;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.informativeText = box->informativeText();
        seen.standardButtons = int(box->standardButtons());
        seen.hasDefaultButton = box->defaultButton() != nullptr;
        seen.parent = box->parentWidget();
        seenBoxes << seen;
        if (onBox)
            onBox(seen);
    }
    if (answering && !box->buttons().isEmpty()) {
        lastBox = nullptr; // the next box may reuse the address
        box->buttons().first()->click();
    }
}
