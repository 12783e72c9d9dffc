#pragma once
// The window's prober for finding signs: each probe one transaction of the
// worker (UASD) on a line kept open from probe to probe (opened again when
// the rate changes), waited for on the calling thread, which must not be the
// window's. The worker's events come to this handler, never to the window.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <wx/event.h>

#include "line/serial_port.h"
#include "serial/sign_search.h"

namespace rq::serial {

class ProbeSession : public wxEvtHandler {
public:
    // `settleMs`: how long the line must be quiet after a silent probe.
    ProbeSession(const std::string& port, int settleMs);
    ~ProbeSession() override;

    ProbeAnswer Probe(std::optional<std::uint8_t> id, int baud, int waitMs, std::uint8_t code);
    // Closes the line.
    void End();

    void QueueEvent(wxEvent* event) override;

private:
    const std::string port;
    const int settleMs;
    std::unique_ptr<rq::platform::SerialLine> line;
    int lineBaud = 0;

    std::mutex queueMutex;
    std::condition_variable queueSignal;
    std::deque<std::unique_ptr<wxEvent>> queued;
};

}  // namespace rq::serial
