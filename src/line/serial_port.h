#pragma once
// A serial port opened for one transaction: 8 data bits, no parity, 1 stop bit,
// no flow control. One implementation per OS (serial_port_posix.cpp,
// serial_port_win32.cpp); callers never see the OS handle.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace rq::platform {

// What a transaction needs of a port. SerialPort is the real one; tests give
// the worker fakes that record what it asks for.
class SerialLine {
public:
    virtual ~SerialLine() = default;

    // Opens `name` (a device path on POSIX, "COMn" on Windows) at `baud`.
    // Returns false and keeps the OS reason when the port cannot be opened or
    // the rate cannot be set. Opening an open port closes it first.
    virtual bool Open(const std::string& name, long baud) = 0;
    virtual bool IsOpen() const = 0;

    // Writes up to `length` bytes, waiting at most `timeoutMs` in all.
    // Returns the count written (0 when nothing could be written).
    virtual std::size_t Write(const std::uint8_t* data, std::size_t length, int timeoutMs) = 0;

    // Waits, at most `timeoutMs`, until the bytes written have left the line
    // (the driver's queue, and the transmitter where the driver tells); true
    // once they have. On a pseudo-terminal it returns at once.
    virtual bool Drain(int timeoutMs) = 0;

    // Drops what is waiting to be read: a reply that came after its wait, line
    // noise. Called before every frame, so that nothing but the answer to
    // that frame is taken for it. False when the line is gone (the reason is
    // kept).
    virtual bool DiscardInput() = 0;

    // Reads up to `length` bytes, waiting at most `timeoutMs` for the first.
    // Returns the count read; 0 on time-out, and at once when the device is gone.
    virtual std::size_t Read(std::uint8_t* data, std::size_t length, int timeoutMs) = 0;

    // Closes the port (restoring its original settings); harmless when closed.
    virtual void Close() = 0;

    // True when the rate given to Open is the rate on the wire. A raw TCP
    // device server runs its serial side at a rate of its own, which we can
    // only believe.
    virtual bool SetsTheLineRate() const { return true; }

    // True when the last failure was the far end turning the line away (a
    // device server's refusal that came after the open): an open that
    // failed, not a line lost.
    virtual bool TurnedAway() const { return false; }

    // True when the last failure was the far end closing the connection (a
    // device server), not a device that went away.
    virtual bool ClosedByFarEnd() const { return false; }

    // The OS reason of the last failure ("No such file or directory", ...),
    // and its OS code (errno, or GetLastError on Windows); 0 when none.
    virtual const std::string& LastErrorMessage() const = 0;
    virtual int LastErrorCode() const = 0;
};

class SerialPort final : public SerialLine {
public:
    SerialPort();
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    bool Open(const std::string& name, long baud) override;
    bool IsOpen() const override;
    std::size_t Write(const std::uint8_t* data, std::size_t length, int timeoutMs) override;
    bool Drain(int timeoutMs) override;
    bool DiscardInput() override;
    std::size_t Read(std::uint8_t* data, std::size_t length, int timeoutMs) override;
    void Close() override;
    const std::string& LastErrorMessage() const override;
    int LastErrorCode() const override;

    // The time-out the last write ran under, in ms: on Windows as the driver
    // holds it (WriteTotalTimeoutConstant, read back with GetCommTimeouts), on
    // POSIX as given; 0 before the first write since the port was opened.
    int AppliedWriteTimeoutMs() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace rq::platform
