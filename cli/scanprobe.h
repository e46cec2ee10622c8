#pragma once

class Output;
class Session;

// What the board request to one address heard, for scan.
enum class Probe
{
    Silent,
    Answered,
    Collided, // every reply garbled: two units with one address?
    Garbled,  // garbled replies, then silence
};

// The board request to `address` at the port's speed and polls; on Answered its board map,
// and the address the reply names in `*replyAddress` when given.
Probe probe(Session &session, int address, int &boardMap, int *replyAddress);
// One address's result line (silent addresses in JSON only). ExitDone or ExitWriteFailed.
int reportProbe(const Output &out, int address, Probe heard, int boardMap);
