// find: the window's search, reported.
#include "commands.h"
#include "describe.h"
#include "exitcodes.h"
#include "output.h"
#include "session.h"

int runFind(Session &session, const Output &out)
{
    if (const int code = session.connect())
        return code;
    return out.result(unitJson(session.options().port, session.unit()),
                      unitText(session.options().port, session.unit()));
}
