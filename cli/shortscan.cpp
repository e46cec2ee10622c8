// scan with --listen shorter than the window's attempt. A unit slower than the attempt
// answers while a later address is asked: its reply names its own address, so it is not
// counted for the address being asked, and the addresses since the one it names are asked
// again. Every address heard is confirmed with the window's own polls before it counts, and
// the last address is asked again that way at the end, so that a late reply to the last
// attempts is heard too. Results come at the end, in address order. Each address is asked
// through the probe that the streaming scan uses too (scanprobe.cpp).
#include "shortscan.h"
#include "ccomport.h"
#include "clioptions.h"
#include "commandset.h"
#include "exchangetiming.h"
#include "exchangeresult.h"
#include "exitcodes.h"
#include "frameformat.h"
#include "framecodec.h"
#include "interrupt.h"
#include "scanprobe.h"
#include "session.h"
#include "strayreplies.h"

#include <QHash>
#include <QMap>

namespace {

// An address is asked with the window's polls at most this often: each time another
// address's late reply may spoil the exchange, and the window's polls outlast such replies.
constexpr int confirmationsPerAddress = 2;

struct Result
{
    Probe heard = Probe::Silent;
    int boardMap = 0;
};

struct ShortScan
{
    Session &session;
    QMap<int, Result> results; // by address, the addresses probed so far
    QList<int> toConfirm;
    QHash<int, int> confirmations;

    // The board request to `address`. A reply that names another address is a late reply
    // to that address's request: that address, and every one asked since (their replies
    // may have queued behind it), go on the list to confirm.
    Result ask(int address)
    {
        Result result;
        int named = address;
        result.heard = probe(session, address, result.boardMap, &named);
        confirmNamedIn(strayReplies::takeDiscarded(*session.port().serialPort()));
        if (result.heard == Probe::Answered && address != 0 && named != address) {
            confirmFrom(named);
            toConfirm << address;
            result.heard = Probe::Silent; // not this address's answer
        } else if (result.heard != Probe::Silent) {
            toConfirm << address;
        }
        return result;
    }

    // A late reply that names `named`: that address and every one asked since go on the
    // list to confirm (their replies may have queued behind it).
    void confirmFrom(int named)
    {
        for (auto it = results.lowerBound(named); it != results.cend(); ++it)
            toConfirm << it.key();
    }

    // Late replies that came between two attempts were dropped before the next send; the
    // addresses they name are confirmed as those heard during an attempt are.
    void confirmNamedIn(const QByteArray &discarded)
    {
        for (const QByteArray &piece : discarded.split(frameByte::end)) {
            const qsizetype start = piece.lastIndexOf(frameByte::replyStart);
            if (start < 0)
                continue;
            QByteArray frame = piece.mid(start) + frameByte::end;
            if (decodeFrame(frame) == Ok && !frame.isEmpty())
                confirmFrom(command::replyByte(frame, 0));
        }
    }

    // Confirms the addresses on the list with the window's own polls.
    void confirmAll()
    {
        cComPort &port = session.port();
        while (!toConfirm.isEmpty() && !interrupt::requested()) {
            const int address = toConfirm.takeFirst();
            if (!results.contains(address) || confirmations[address]++ >= confirmationsPerAddress)
                continue; // not probed yet (it will be), or confirmed already
            port.setPollsPerAttempt(exchangeTiming::countedPollsPerAttempt);
            const Result result = ask(address);
            port.setPollsPerAttempt(session.listening().polls);
            if (interrupt::requested())
                break; // cut short: tells nothing
            results[address] = result;
            if (result.heard != Probe::Silent) { // heard at the window's polls: settled
                confirmations[address] = confirmationsPerAddress;
                toConfirm.removeAll(address);
            }
        }
    }
};

} // namespace

int scanListeningShort(Session &session, const Output &out, QStringList &answered, int &probed)
{
    ShortScan scan{session, {}, {}, {}};
    session.port().setPollsPerAttempt(session.listening().polls);
    for (const int address : session.options().addresses) {
        const Result result = scan.ask(address);
        if (interrupt::requested())
            break; // the probe cut short tells nothing
        scan.results[address] = result;
        ++probed;
        scan.confirmAll();
        if (const int code = session.traceState())
            return code;
        if (const int code = session.reportPortGone(QStringLiteral("scanning")))
            return code;
    }
    if (probed > 0 && !interrupt::requested()) {
        scan.toConfirm << scan.results.lastKey();
        scan.confirmAll();
    }
    // Ctrl-C before their confirmation: what they heard is not told.
    for (const int address : std::as_const(scan.toConfirm))
        scan.results.remove(address);
    probed = int(scan.results.size());
    for (auto it = scan.results.cbegin(); it != scan.results.cend(); ++it) {
        if (const int code = reportProbe(out, it.key(), it->heard, it->boardMap))
            return code;
        if (it->heard == Probe::Answered)
            answered << QString::number(it.key());
    }
    return session.traceState();
}
