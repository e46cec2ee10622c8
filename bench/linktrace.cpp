#include "linktrace.h"

#include "processclock.h"

#include <QLoggingCategory>
#include <cstring>

namespace {

LinkTrace *current = nullptr;
QtMessageHandler previous = nullptr;

// Rules that hold in every benchmark, with the frame log on or off.
void setRules(bool frames)
{
    QString rules = QStringLiteral("qt.core.qmetaobject.connectslotsbyname.warning=false\n");
    if (frames)
        rules += QStringLiteral("vertal.link.debug=true\n");
    QLoggingCategory::setFilterRules(rules);
}

} // namespace

LinkTrace::LinkTrace()
{
    current = this;
    previous = qInstallMessageHandler(&LinkTrace::handler);
    setRules(true);
}

LinkTrace::~LinkTrace()
{
    setRules(false);
    qInstallMessageHandler(previous);
    current = nullptr;
}

// The frame log reads "hh:mm:ss.zzz out 24 30 ..." or "... in 21 30 ... 0d".
void LinkTrace::handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!current || !context.category || std::strcmp(context.category, "vertal.link") != 0) {
        if (previous)
            previous(type, context, text);
        return;
    }
    Entry e;
    e.time = monotonicSeconds();
    e.out = text.contains(QLatin1String(" out "));
    e.endsFrame = !e.out && text.endsWith(QLatin1String("0d"));
    QMutexLocker hold(&current->lock);
    current->noted.push_back(e);
}

std::vector<LinkTrace::Entry> LinkTrace::entries() const
{
    QMutexLocker hold(&lock);
    return noted;
}

void LinkTrace::clear()
{
    QMutexLocker hold(&lock);
    noted.clear();
}

std::vector<double> LinkTrace::roundTrips(double from, double to) const
{
    std::vector<double> trips;
    double sent = -1;
    for (const Entry &e : entries()) {
        if (e.time < from || e.time > to)
            continue;
        if (e.out) {
            sent = e.time;
        } else if (e.endsFrame && sent >= 0) {
            trips.push_back(e.time - sent);
            sent = -1;
        }
    }
    return trips;
}

int LinkTrace::framesSent(double from, double to) const
{
    int count = 0;
    for (const Entry &e : entries())
        count += e.out && e.time >= from && e.time <= to ? 1 : 0;
    return count;
}

double LinkTrace::sendTime(int n, double from) const
{
    for (const Entry &e : entries()) {
        if (e.out && e.time >= from && n-- == 0)
            return e.time;
    }
    return -1;
}
