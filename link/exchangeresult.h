#pragma once

// Result of one request/reply exchange with the unit. 0 is success; every other
// value is a failed exchange and callers do not tell them apart. 6 and 8 are unused.
enum ExchangeResult : int
{
    Ok = 0,
    NoStart = 1,      // reply frame does not begin with '!'
    NoEnd = 2,        // reply frame does not end with a carriage return
    OddLength = 3,    // reply frame of odd total length
    BadHighDigit = 4, // first digit of a pair is not hexadecimal
    BadLowDigit = 5,  // second digit of a pair is not hexadecimal
    Empty = 7,        // nothing before the first NUL byte
    NoReply = 9,      // no complete reply frame after every send attempt
    NoPort = 10,      // the worker has no port object
};
