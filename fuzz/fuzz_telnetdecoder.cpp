// libFuzzer target: the Telnet decoder takes whatever a serial server sends. Besides crashes
// and undefined behaviour it checks that the network's cuts change nothing (the first byte
// says where to cut), that the line never gets more bytes than arrived, and that the line's
// bytes sent escaped come back as they were, without commands.
#include "telnetcodec.h"

#include <QByteArray>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

struct Decoded
{
    QByteArray data;
    QList<telnet::Decoder::Command> commands;
};

Decoded decode(const QByteArray &wire, qsizetype cut)
{
    telnet::Decoder decoder;
    Decoded out;
    decoder.feed(wire.left(cut), out.data, out.commands);
    decoder.feed(wire.mid(cut), out.data, out.commands);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray wire(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    const qsizetype cut = wire.isEmpty() ? 0 : data[0] % (wire.size() + 1);

    const Decoded whole = decode(wire, wire.size());
    const Decoded split = decode(wire, cut);
    check(whole.data == split.data);
    check(whole.commands.size() == split.commands.size());
    for (qsizetype i = 0; i < whole.commands.size(); ++i) {
        check(whole.commands[i].verb == split.commands[i].verb);
        check(whole.commands[i].option == split.commands[i].option);
        check(whole.commands[i].payload == split.commands[i].payload);
    }
    check(whole.data.size() <= wire.size());

    const Decoded back = decode(telnet::escaped(wire), cut);
    check(back.data == wire && back.commands.isEmpty());
    return 0;
}
