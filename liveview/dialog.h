#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>

class cComPort;
namespace Ui {
class Dialog;
}

// The live value of one input board: asks the unit for it every 500 ms through the main
// window's primary worker and shows it in decimal. A failed exchange is reported once and
// closes the dialog; when the window's connection ends meanwhile, the dialog closes without
// a word (the window has said what there was to say).
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
    void showValue(int value);
    bool connectionEnded() const;

    Ui::Dialog *ui;
    int inputNumber;
    int unitAddress;
    QPointer<cComPort> port; // released by the window when its connection ends
    QTimer valueTimer;
};
