#pragma once

#include <QString>
#include <QStringList>

class SoakRig;

// The soak's checks, run after every step of the operator:
// - the unit never received a malformed frame, a frame with a wrong check byte, or two
//   frames interleaved;
// - no exchange was ever refused because its worker already had one in flight;
// - every message box is one of the window's own messages;
// - the window's state is one it may be in: the poll runs only while "Стоп" is shown, a
//   poll worker exists and the value dialog is closed; and when nothing is going on
//   (no operation waiting, no modal window): "Стоп" means connected and polling, "Старт"
//   means the idle picture (a connection found half-ended counts when it is still so at the
//   next calm step), and while connected the board lists and the version are the unit's own.
//   The address shown counts among the contents. Late replies (a slow unit answers every
// copy of a request) must never be taken for the replies of later requests, so contents
// that differ are violations after every kind of fault but one: a reply that the line
// mangled into another well-formed frame says something else than the unit did, and the
// window cannot tell. The operator marks connections that met such replies untrusted;
// their contents are counted, not judged.
class SoakChecks
{
public:
    explicit SoakChecks(SoakRig &rig) : rig(rig) {}

    // `quiet`: only the event loop on the GUI thread's stack, no modal window, no exchange
    // in flight.
    void afterStep(bool quiet);
    void setRepliesTrusted(bool trusted) { repliesTrusted = trusted; }
    // A message box the operator is about to close: its text must be one of the window's.
    void boxSeen(const QString &title, const QString &text);
    int boxesSeen() const { return boxCount; }

    int violations() const { return violationCount; }
    int framesChecked() const { return frameCount; }
    int quietChecks() const { return quietCount; }
    int contentsJudged() const { return judgedCount; }
    int contentsUntrusted() const { return untrustedCount; }
    // Untrusted checks whose contents differed from the unit's (mangled replies).
    int contentsDiffering() const { return differingCount; }
    QStringList firstViolations() const { return shown; }

private:
    void checkFrames();
    void checkAlways();
    void checkQuiet();
    void checkConnectionAtRest();
    void checkContents();
    QStringList contentDifferences() const;
    void violation(const QString &what);

    SoakRig &rig;
    bool repliesTrusted = true;
    int violationCount = 0;
    int frameCount = 0;
    int quietCount = 0;
    int judgedCount = 0;
    int untrustedCount = 0;
    int differingCount = 0;
    int refusedSeen = 0;
    int boxCount = 0;
    QStringList shown;
    // What checkConnectionAtRest() found wrong at the last calm step.
    QStringList halfEnded;
};
