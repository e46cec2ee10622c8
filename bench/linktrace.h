#pragma once

#include <QByteArray>
#include <QMutex>
#include <QtGlobal>
#include <vector>

// Times of the frames on the line, taken from the link's own frame log ("vertal.link"),
// which this switches on. Every request frame sent and every chunk of reply read is noted
// with the monotonic time at which the worker logged it. One trace at a time.
class LinkTrace
{
public:
    struct Entry
    {
        double time = 0; // monotonic seconds
        bool out = false;
        bool endsFrame = false; // a chunk that ends with a carriage return
    };

    // Switches the frame log on and starts noting; other messages go on as before.
    LinkTrace();
    // Switches it off again.
    ~LinkTrace();
    LinkTrace(const LinkTrace &) = delete;
    LinkTrace &operator=(const LinkTrace &) = delete;

    std::vector<Entry> entries() const;
    void clear();

    // From request frame to the chunk that ended its reply, for every request answered
    // within the entries noted between `from` and `to` (seconds).
    std::vector<double> roundTrips(double from, double to) const;
    // Request frames sent between `from` and `to`.
    int framesSent(double from, double to) const;
    // Time of the n-th request frame (0-based) sent at or after `from`; -1 if none.
    double sendTime(int n, double from) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text);

    mutable QMutex lock;
    std::vector<Entry> noted;
};
