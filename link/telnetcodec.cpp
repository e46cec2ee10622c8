#include "telnetcodec.h"

namespace {
QByteArray bytes(std::initializer_list<quint8> values)
{
    QByteArray out;
    for (const quint8 value : values)
        out.append(char(value));
    return out;
}
} // namespace

namespace telnet {

QByteArray escaped(const QByteArray &data)
{
    if (!data.contains(char(iac)))
        return data;
    QByteArray out;
    out.reserve(data.size() + 8);
    for (const char byte : data) {
        out.append(byte);
        if (quint8(byte) == iac)
            out.append(byte);
    }
    return out;
}

QByteArray negotiation(quint8 verb, quint8 option)
{
    return bytes({iac, verb, option});
}

QByteArray subnegotiation(quint8 option, const QByteArray &payload)
{
    return bytes({iac, sb, option}) + escaped(payload) + bytes({iac, se});
}

void Decoder::feed(const QByteArray &chunk, QByteArray &data, QList<Command> &commands)
{
    for (const char byte : chunk) {
        const quint8 b = quint8(byte);
        switch (state) {
        case State::Data:
            if (b == iac)
                state = State::Iac;
            else
                data.append(byte);
            break;
        case State::Iac:
            state = State::Data;
            if (b == iac) {
                data.append(byte);
            } else if (b == will || b == wont || b == doOption || b == dont) {
                pending = Command{b, 0, {}};
                state = State::Verb;
            } else if (b == sb) {
                pending = Command{sb, 0, {}};
                state = State::SubOption;
            } // other commands (NOP, GA, a data mark) carry nothing for the line
            break;
        case State::Verb:
            pending.option = b;
            commands.append(pending);
            state = State::Data;
            break;
        case State::SubOption:
            pending.option = b;
            state = State::Sub;
            break;
        case State::Sub:
            if (b == iac)
                state = State::SubIac;
            else
                takeSubByte(byte);
            break;
        case State::SubIac:
            if (b == iac) {
                takeSubByte(byte);
                state = State::Sub;
            } else {
                // IAC SE ends it; any other command there is a broken one, ended all the same.
                if (b == se)
                    commands.append(pending);
                state = State::Data;
            }
            break;
        }
    }
}

void Decoder::takeSubByte(char byte)
{
    if (pending.payload.size() < maxPayload)
        pending.payload.append(byte);
}

} // namespace telnet

namespace rfc2217 {

QByteArray baudRateRequest(int baud)
{
    const quint32 value = quint32(baud);
    const QByteArray payload = bytes(
        {setBaudRate, quint8(value >> 24), quint8(value >> 16), quint8(value >> 8), quint8(value)});
    return telnet::subnegotiation(telnet::comPortOption, payload);
}

QByteArray settingRequest(quint8 request, quint8 value)
{
    return telnet::subnegotiation(telnet::comPortOption, bytes({request, value}));
}

int answeredBaudRate(const QByteArray &payload)
{
    if (payload.size() < 5 || quint8(payload.at(0)) != serverAnswer + setBaudRate)
        return 0;
    quint32 value = 0;
    for (int i = 1; i < 5; ++i)
        value = (value << 8) | quint8(payload.at(i));
    return int(value);
}

} // namespace rfc2217
