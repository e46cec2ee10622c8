#include "dialog.h"
#include "ui_dialog.h"

#include "ccomport.h"
#include "commandset.h"
#include "dialogtexts.h"
#include "exchangeresult.h"
#include "fontfit.h"

#include <QMessageBox>
#include <chrono>

using namespace std::chrono_literals;

namespace {
constexpr auto valueInterval = 500ms;
}

Dialog::Dialog(QWidget *parent, cComPort *port, int inputNumber, int unitAddress)
    : QDialog(parent), ui(new Ui::Dialog), inputNumber(inputNumber), unitAddress(unitAddress),
      port(port)
{
    ui->setupUi(this);
    // Its label is set larger than the window's texts: the face the window settled on
    // may be too wide for it, and a desktop theme may have set any application font.
    fitFontFamily(this);
    connect(&valueTimer, &QTimer::timeout, this, &Dialog::_time_out);
    valueTimer.start(valueInterval);
}

Dialog::~Dialog()
{
    delete ui;
}

void Dialog::on_done_released()
{
    valueTimer.stop();
    close();
}

// The window ended its connection (a failed status tick, its own end): the worker has been
// told to stop or is gone.
bool Dialog::connectionEnded() const
{
    return !port || port->exchangesStopped();
}

void Dialog::_time_out()
{
    pollValue();
}

// One value poll. A tick that comes while the previous poll still waits for its reply is
// skipped: the worker carries one exchange at a time, and a slow unit must not see two
// requests queued up behind each other.
void Dialog::pollValue()
{
    if (connectionEnded()) {
        valueTimer.stop();
        close();
        return;
    }
    if (port->isExchanging())
        return;
    QByteArray buffer = command::readValue(unitAddress, inputNumber);
    const int result = port->exchange(buffer, false);

    // Closed by the operator while the reply was awaited: nothing more to show.
    if (!isVisible())
        return;
    if (connectionEnded()) {
        valueTimer.stop();
        close();
        return;
    }

    if (result != Ok) {
        valueTimer.stop();
        QMessageBox::critical(this, liveview::messageTitle, liveview::exchangeFailedText,
                              QMessageBox::Yes);
        close();
        return;
    }

    showValue(command::currentValue(buffer));
}

// The value field has a name of its own for a screen reader ("Текущее значение"), so its
// text goes into its description too, whose change the toolkit announces.
void Dialog::showValue(int value)
{
    const QString text = QString::number(value);
    ui->value->setText(text);
    if (ui->value->accessibleDescription() != text)
        ui->value->setAccessibleDescription(text);
}
