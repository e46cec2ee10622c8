#include "fault.h"

#include <utility>

namespace {

const std::pair<FaultKind, const char *> names[] = {
    {FaultKind::None, "none"},
    {FaultKind::NoAnswer, "noanswer"},
    {FaultKind::Delay, "delay"},
    {FaultKind::Chunked, "chunked"},
    {FaultKind::Garbage, "garbage"},
    {FaultKind::OddLength, "oddlength"},
    {FaultKind::BadHighDigit, "badhigh"},
    {FaultKind::BadLowDigit, "badlow"},
    {FaultKind::Babble, "babble"},
    {FaultKind::Unplug, "unplug"},
    {FaultKind::Hostile, "hostile"},
};

} // namespace

QString faultKindName(FaultKind kind)
{
    for (const auto &[k, name] : names)
        if (k == kind)
            return QString::fromLatin1(name);
    return QString();
}

bool parseFaultKind(const QString &name, FaultKind &kind)
{
    for (const auto &[k, n] : names) {
        if (name == QLatin1String(n)) {
            kind = k;
            return true;
        }
    }
    return false;
}
