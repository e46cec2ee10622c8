#pragma once

#include <QByteArray>
#include <QList>

// Cuts the byte stream from the wizard into request frames.
// A frame runs from '$' to '\r'. A '$' inside an unfinished frame ends that frame as
// interleaved and starts the next; a frame that grows past `maxFrameBytes` is ended as
// overlong. Bytes outside frames are only counted. Used by one thread.
class RequestAssembler
{
public:
    struct Piece
    {
        QByteArray raw;
        bool complete = false;    // ends with '\r'
        bool interleaved = false; // cut short by a '$'
    };

    static constexpr int maxFrameBytes = 512;

    // Frames ended by `bytes`, in order of arrival.
    QList<Piece> feed(const QByteArray &bytes);
    // True when the last feed() held a '$' (a request began).
    bool sawStart() const { return started; }
    int strayBytes() const { return stray; }
    void reset();

private:
    QByteArray current;
    bool inFrame = false;
    bool started = false;
    int stray = 0;
};
