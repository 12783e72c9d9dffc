#pragma once
// The line settings a Windows COM port gets (8N1, no flow control), set on
// whatever the driver reported so that fields this program has no opinion on
// keep the driver's values. Plain C++ over any struct with DCB's field names,
// so the choice is testable away from Windows.

#include <string>

namespace rq::platform {

// DCB's values for what is set here (winbase.h); the Windows side checks
// that they agree.
inline constexpr int kNoParity = 0;
inline constexpr int kOneStopBit = 0;
inline constexpr int kDtrControlEnable = 1;
inline constexpr int kRtsControlEnable = 1;
// The usual XON/XOFF characters. SetCommState refuses a DCB whose two are
// equal even with software flow control off, and some USB CDC drivers report
// both as 0.
inline constexpr char kXonChar = 0x11;
inline constexpr char kXoffChar = 0x13;

template <typename Dcb>
void SetEightNoneOne(Dcb& dcb, long baud)
{
    dcb.BaudRate = static_cast<decltype(dcb.BaudRate)>(baud);
    dcb.ByteSize = 8;
    dcb.Parity = kNoParity;
    dcb.StopBits = kOneStopBit;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = kDtrControlEnable;
    dcb.fDsrSensitivity = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = kRtsControlEnable;
    dcb.fAbortOnError = 0;
    dcb.XonChar = kXonChar;
    dcb.XoffChar = kXoffChar;
}

// What a refused SetCommState reads as. The rate is named as the cause only
// when the same settings at the driver's own rate were accepted.
std::string CommStateRefusedMessage(long baud, bool acceptedAtDriverRate, const std::string& systemMessage);

}  // namespace rq::platform
