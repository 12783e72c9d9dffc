#pragma once
// A serial port opened for one transaction: 8 data bits, no parity, 1 stop bit,
// no flow control. One implementation per OS (serial_port_posix.cpp,
// serial_port_win32.cpp); callers never see the OS handle.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace rq::platform {

class SerialPort {
public:
    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `name` (a device path on POSIX, "COMn" on Windows) at `baud`.
    // Returns false and keeps the OS reason when the port cannot be opened or
    // the rate cannot be set. Opening an open port closes it first.
    bool Open(const std::string& name, long baud);
    bool IsOpen() const;

    // Writes up to `length` bytes, waiting at most `timeoutMs` in all.
    // Returns the count written (0 when nothing could be written).
    std::size_t Write(const std::uint8_t* data, std::size_t length, int timeoutMs);

    // Reads up to `length` bytes, waiting at most `timeoutMs` for the first.
    // Returns the count read; 0 on time-out, and at once when the device is gone.
    std::size_t Read(std::uint8_t* data, std::size_t length, int timeoutMs);

    // Closes the port (restoring its original settings); harmless when closed.
    void Close();

    // The OS reason of the last failure ("No such file or directory", ...),
    // and its OS code (errno, or GetLastError on Windows); 0 when none.
    const std::string& LastErrorMessage() const;
    int LastErrorCode() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace rq::platform
