#include "runbeside.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <memory>

void runBesideEvents(const std::function<void()> &work)
{
    const QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        work();
        return;
    }
    std::unique_ptr<QThread> thread(QThread::create(work));
    QEventLoop loop;
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();
}
