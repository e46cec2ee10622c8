#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class MainWindow;
class QPushButton;

// The real main window, offscreen, worked through its widgets as an operator would: the
// simulator's line chosen in the port list, "Старт" pressed. Message boxes are answered
// (their texts kept) as soon as they are shown, without a polling timer, so that nothing
// of the session's own costs CPU while the window idles.
class WizardSession : public QObject
{
public:
    // Offers `devicePath` to the window the way the program gets it (VERTAL_EXTRA_PORTS)
    // and builds the window. Call after the QApplication exists.
    explicit WizardSession(const QString &devicePath);
    ~WizardSession() override;

    MainWindow &window() { return *mainWindow; }
    QPushButton *startButton() const;
    QPushButton *valueButton() const;

    // Picks the device in the port list; false when the window does not list it.
    bool choosePort();
    // Presses and releases "Старт"; returns when the window's handler has returned.
    void pressStart();
    // True while the button reads "Стоп".
    bool connected() const;

    // Texts of the message boxes answered so far.
    QStringList messages() const { return answered; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString device;
    std::unique_ptr<MainWindow> mainWindow;
    QStringList answered;
};

// Ensures the offscreen platform when none is chosen; call before the QApplication.
void useOffscreenByDefault();
