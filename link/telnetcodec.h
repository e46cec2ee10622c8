#pragma once

#include <QByteArray>
#include <QList>

// Telnet framing of a serial server's connection, and the COM-PORT-OPTION (RFC 2217)
// requests by which the program sets the server's line.
namespace telnet {

constexpr quint8 iac = 255;
constexpr quint8 dont = 254;
constexpr quint8 doOption = 253;
constexpr quint8 wont = 252;
constexpr quint8 will = 251;
constexpr quint8 sb = 250;
constexpr quint8 se = 240;

constexpr quint8 binary = 0;
constexpr quint8 suppressGoAhead = 3;
constexpr quint8 comPortOption = 44;

// `data` as it goes on the connection: every 0xFF doubled.
QByteArray escaped(const QByteArray &data);
// IAC `verb` `option`.
QByteArray negotiation(quint8 verb, quint8 option);
// IAC SB `option` `payload` IAC SE, 0xFF in the payload doubled.
QByteArray subnegotiation(quint8 option, const QByteArray &payload);

// Splits what the server sends into the line's bytes and Telnet commands. Its state lasts
// from chunk to chunk, so a command cut anywhere by the network is still taken whole.
class Decoder
{
public:
    struct Command
    {
        quint8 verb = 0; // will, wont, doOption, dont, or sb for a subnegotiation
        quint8 option = 0;
        QByteArray payload; // a subnegotiation's bytes after its option, undoubled
    };

    // Appends the line's bytes in `chunk` to `data` and the whole commands to `commands`.
    void feed(const QByteArray &chunk, QByteArray &data, QList<Command> &commands);

private:
    enum class State
    {
        Data,
        Iac,       // after an IAC
        Verb,      // after IAC WILL/WONT/DO/DONT: the option comes
        SubOption, // after IAC SB: the option comes
        Sub,       // in a subnegotiation's payload
        SubIac,    // an IAC inside it
    };
    // A subnegotiation of the server is a few bytes; a longer one is cut, not grown.
    static constexpr qsizetype maxPayload = 64;

    void takeSubByte(char byte);

    State state = State::Data;
    Command pending;
};

} // namespace telnet

// RFC 2217: the client's requests to the server (the server answers each with code + 100).
namespace rfc2217 {

constexpr quint8 setBaudRate = 1;
constexpr quint8 setDataSize = 2;
constexpr quint8 setParity = 3;
constexpr quint8 setStopSize = 4;
constexpr quint8 setControl = 5;
constexpr quint8 serverAnswer = 100; // added to a request's code in the server's answer

constexpr quint8 parityNone = 1;
constexpr quint8 oneStopBit = 1;
constexpr quint8 noFlowControl = 1;

// The whole IAC SB COM-PORT-OPTION SET-BAUDRATE request for `baud`.
QByteArray baudRateRequest(int baud);
// A one-byte setting (data size, parity, stop size, control).
QByteArray settingRequest(quint8 request, quint8 value);
// The line speed of the server's answer to SET-BAUDRATE in a COM-PORT-OPTION
// subnegotiation's payload; 0 when the payload is not that answer.
int answeredBaudRate(const QByteArray &payload);

} // namespace rfc2217
