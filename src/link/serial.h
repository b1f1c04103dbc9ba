#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zanth {

class IniFile;

// An open serial port; null (nullptr) means not connected. Every operation accepts a null handle.
struct SerialPort;
using PortHandle = SerialPort*;

// Opens `device` (a path such as /dev/ttyUSB0), sets baud rate, 8 data bits, parity (0 = none) and one stop
// bit in raw mode, then discards input for 500 ms. Null on failure; `reason` then gets the system's text.
PortHandle ComOpen(const std::string& device, int baudRate, int byteSize, int parity,
                   std::string* reason = nullptr);
// The same without the 500 ms discard, for callers that do the discard themselves (the link thread).
PortHandle ComOpenNoDiscard(const std::string& device, int baudRate, int byteSize, int parity,
                            std::string* reason = nullptr);
// Discards input for `durationMs` (sleeping in poll, never spinning). 1; 0 for a null handle.
int ComDrain(PortHandle port, int durationMs);
// Reads up to n bytes, returning as soon as n have come or after `timeoutMs`. Count read; 0 for null.
int ComRead(PortHandle port, std::uint8_t* buffer, int n, int timeoutMs);
// Writes and waits until the driver has sent the bytes. Count written; 0 for null.
int ComWrite(PortHandle port, const std::uint8_t* buffer, int n);
// Always 1; nothing for null.
int ComClose(PortHandle port);
// 100 ms discard, then the 9-byte message: "k" (reply wanted) or "K", then min(length, 8) data bytes padded
// with zeros. -1 for null, else the result of ComWrite.
int ComSendFrame(PortHandle port, const std::uint8_t* data, int length, bool replyWanted);
// The 9-byte message alone, without the discard.
int ComWriteMessage(PortHandle port, const std::uint8_t* data, int length, bool replyWanted);
// File descriptor of an open port (-1 for null), for callers that wait on several things at once.
int ComFd(PortHandle port);

// The transfers of the link thread. Unlike the plain ones they end at once when `wakeFd` (may be -1) becomes
// readable, and they report a port that has failed (unplugged, hung up) instead of riding it out, so the
// thread can tell the user and stop using it.
enum class ComStatus { kOk, kWoken, kFailed };
struct ComResult {
    ComStatus status = ComStatus::kOk;
    int count = 0;       // bytes read or written
    std::string reason;  // the system's text when the port failed
};
ComResult ComDrainInterruptible(PortHandle port, int durationMs, int wakeFd);
ComResult ComReadInterruptible(PortHandle port, std::uint8_t* buffer, int n, int timeoutMs, int wakeFd);
// The 9-byte message. `wakeFd` can cancel it only before its first byte: a wire never carries half a message.
ComResult ComWriteMessageInterruptible(PortHandle port, const std::uint8_t* data, int length,
                                       bool replyWanted, int wakeFd);

// The device that "COM<number>" (1-based) stands for: key COM<number> of section PORTS in the settings
// when present, else the number-th serial device of the system (/dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS*,
// numeric order in each group). Empty when there is none.
std::string ResolveComPort(int number, const IniFile& settings);
// The same with the system's devices already listed (ListSerialDevices), for resolving many ports at once.
std::string ResolveComPort(int number, const IniFile& settings, const std::vector<std::string>& devices);
std::vector<std::string> ListSerialDevices();
// The serial devices among the names of a /dev listing, as full paths in the order that ResolveComPort
// counts.
std::vector<std::string> OrderSerialDevices(const std::vector<std::string>& devEntries);

}  // namespace zanth
