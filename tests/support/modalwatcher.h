#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class QWidget;

// Answers modal message boxes for GUI tests. Every 5 ms it looks at the active modal
// widget; a QMessageBox it has not seen yet is recorded (class, title, text, buttons)
// and answered by clicking its first button. Other modal widgets (the search progress
// dialog, the value dialog) are passed to `otherModal` if one is set, else left alone.
class ModalWatcher : public QObject
{
    Q_OBJECT
public:
    struct Box
    {
        QString title;
        QString text;
        QString informativeText;
        int standardButtons = 0;
        bool hasDefaultButton = false;
        QWidget *parent = nullptr;
    };

    explicit ModalWatcher(QObject *parent = nullptr);

    const QList<Box> &boxes() const { return seenBoxes; }
    QStringList texts() const;
    void clear() { seenBoxes.clear(); }

    // While false, boxes are recorded but left open (a test answers them itself).
    void setAnswering(bool on) { answering = on; }
    // Stops looking for good: a test that answers every box itself and runs for long.
    void stop() { timer.stop(); }

    // Called with every active modal widget that is not a QMessageBox.
    std::function<void(QWidget *)> otherModal;

    // Called with each message box when it is first seen, before it is answered.
    std::function<void(const Box &)> onBox;

    // Processes events until `count` boxes have been seen or `timeoutMs` has passed.
    bool waitForBoxes(int count, int timeoutMs = 10000);

private:
    void look();

    QTimer timer;
    QList<Box> seenBoxes;
    QWidget *lastBox = nullptr;
    bool answering = true;
};
