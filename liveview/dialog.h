#pragma once

#include <QDialog>
#include <QTimer>

class cComPort;
namespace Ui {
class Dialog;
}

// The live value of one input board: asks the unit for it every 500 ms through the main
// window's primary worker and shows it in decimal. A failed exchange is reported once and
// closes the dialog.
class Dialog : public QDialog
{
    Q_OBJECT
public:
    // `port` stays the main window's; the dialog never deletes it. Only the low bytes of
    // `inputNumber` and `unitAddress` go out on the line.
    Dialog(QWidget *parent, cComPort *port, int inputNumber, int unitAddress);
    ~Dialog() override;

private slots:
    void on_done_released();
    void _time_out();

private:
    void pollValue();

    Ui::Dialog *ui;
    int inputNumber;
    int unitAddress;
    cComPort *port;
    QTimer valueTimer;
};
