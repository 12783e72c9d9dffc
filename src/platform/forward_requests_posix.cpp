// Requests travel over a socket in Linux's abstract namespace: no file to
// leave behind, and the name goes with the process that holds it.
#include "platform/forward_requests.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>

#include <wx/app.h>
#include <wx/toplevel.h>

#include "platform/native_window.h"

namespace rq::app {

namespace {

// The folder lock's name with the user's number: the namespace is shared by
// every user of the machine, and each user's lock files are their own.
socklen_t AddressOf(const std::string& name, sockaddr_un& address)
{
    const std::string text = name + "." + std::to_string(getuid());
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const size_t length = std::min(text.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, text.data(), length);  // a leading NUL: abstract
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

void BringTopWindowForward()
{
    if (auto* window = dynamic_cast<wxTopLevelWindow*>(wxTheApp->GetTopWindow())) BringForward(window);
}

}  // namespace

struct ForwardRequests::Impl {
    int listener = -1;
    int stop[2] = {-1, -1};
    std::thread thread;

    void Serve()
    {
        pollfd waits[2] = {{listener, POLLIN, 0}, {stop[0], POLLIN, 0}};
        while (poll(waits, 2, -1) >= 0 || errno == EINTR) {
            if (waits[1].revents) return;
            if (!(waits[0].revents & POLLIN)) continue;
            const int caller = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (caller < 0) continue;
            // Looked up on the GUI thread when it runs: the window may be gone by then.
            wxTheApp->CallAfter(&BringTopWindowForward);
            const char done = 1;
            [[maybe_unused]] const ssize_t sent = send(caller, &done, 1, MSG_NOSIGNAL);
            close(caller);
        }
    }
};

ForwardRequests::ForwardRequests(const std::string& name, wxTopLevelWindow*) : impl(std::make_unique<Impl>())
{
    sockaddr_un address;
    const socklen_t length = AddressOf(name, address);
    impl->listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (impl->listener < 0 || bind(impl->listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(impl->listener, 4) != 0 || pipe2(impl->stop, O_CLOEXEC) != 0) {
        // Without it a later start says that the program runs, as before.
        return;
    }
    impl->thread = std::thread([this] { impl->Serve(); });
}

ForwardRequests::~ForwardRequests()
{
    if (impl->thread.joinable()) {
        const char stop = 1;
        [[maybe_unused]] const ssize_t written = write(impl->stop[1], &stop, 1);
        impl->thread.join();
    }
    for (const int fd : {impl->listener, impl->stop[0], impl->stop[1]}) {
        if (fd >= 0) close(fd);
    }
}

bool BringRunningCopyForward(const std::string& name)
{
    sockaddr_un address;
    const socklen_t length = AddressOf(name, address);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool forward = false;
    ucred peer{};
    socklen_t peerLength = sizeof peer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerLength) == 0 && peer.uid == getuid()) {
        // The window answers once it has queued the request; a hung one gets 5 s.
        pollfd wait{fd, POLLIN, 0};
        char done = 0;
        forward = poll(&wait, 1, 5000) == 1 && recv(fd, &done, 1, 0) == 1 && done == 1;
    }
    close(fd);
    return forward;
}

}  // namespace rq::app
