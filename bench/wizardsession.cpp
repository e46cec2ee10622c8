#include "wizardsession.h"

#include "mainwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace {

const QString stopText = QStringLiteral("Стоп");

} // namespace

void useOffscreenByDefault()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

WizardSession::WizardSession(const QString &devicePath) : device(devicePath)
{
    qputenv("VERTAL_EXTRA_PORTS", devicePath.toLocal8Bit());
    QLoggingCategory::setFilterRules(
        QStringLiteral("qt.core.qmetaobject.connectslotsbyname.warning=false"));
    qApp->installEventFilter(this);
    mainWindow = std::make_unique<MainWindow>();
    mainWindow->show();
}

WizardSession::~WizardSession()
{
    qApp->removeEventFilter(this);
}

QPushButton *WizardSession::startButton() const
{
    return mainWindow->findChild<QPushButton *>(QStringLiteral("start"));
}

QPushButton *WizardSession::valueButton() const
{
    return mainWindow->findChild<QPushButton *>(QStringLiteral("current_value"));
}

bool WizardSession::choosePort()
{
    auto *ports = mainWindow->findChild<QComboBox *>(QStringLiteral("com_port"));
    const int index = ports ? ports->findText(device) : -1;
    if (index < 0)
        return false;
    ports->setCurrentIndex(index);
    return true;
}

void WizardSession::pressStart()
{
    startButton()->click();
}

bool WizardSession::connected() const
{
    return startButton()->text() == stopText;
}

// A message box is answered from the event loop it runs, once it is up.
bool WizardSession::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        if (auto *box = qobject_cast<QMessageBox *>(watched)) {
            answered << box->text();
            QPointer<QMessageBox> guard(box);
            QTimer::singleShot(0, this, [guard] {
                if (guard && !guard->buttons().isEmpty())
                    guard->buttons().first()->click();
            });
        }
    }
    return QObject::eventFilter(watched, event);
}
