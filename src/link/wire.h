#pragma once
// The rhythm and sizes of the serial link to the robot's control unit, in one place.

namespace zanth {

// Line speed; always 8 data bits, no parity, one stop bit.
inline constexpr int kBaudRate = 115200;
// Input discarded after the link starts: what the unit says while the line comes up.
inline constexpr int kOpenDiscardMs = 500;
// Input discarded before every message; it also drops a reply that came after its read window.
inline constexpr int kFrameDiscardMs = 100;
// How long the battery reply is read after a "k" message.
inline constexpr int kReplyTimeoutMs = 25;
// The reply read ends early only when this many bytes have come.
inline constexpr int kReplyBytes = 128;
// One message on the wire: the command byte and the frame.
inline constexpr int kMessageBytes = 9;
inline constexpr int kMaxFrameBytes = 8;
// The link asks for a fresh frame this long before it takes one for sending, so that the frame on the wire
// is only a few milliseconds old.
inline constexpr int kSampleLeadMs = 8;
// A frame handed over longer ago than this is not sent as it is: the thread that hands frames over is stuck,
// and whatever it held pressed would stay pressed on the robot. The neutral frame goes out instead until
// fresh frames come again. The tick hands one over every 50 ms, the sample one before every message.
inline constexpr int kStaleFrameMs = 300;
// The longest a stop of the link may take, however the port behaves.
inline constexpr int kStopBudgetMs = 300;

}  // namespace zanth
