#pragma once

// The bytes that delimit the unit's frames on the line.
namespace frameByte {

constexpr char requestStart = '$'; // a request from the wizard begins so
constexpr char replyStart = '!';   // a reply from the unit begins so
constexpr char end = '\r';         // both end so

} // namespace frameByte
