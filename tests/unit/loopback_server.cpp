#include "loopback_server.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarnvel::test {
namespace {

// Waits up to `ms` for `fd` to become readable, giving up early when asked to stop.
bool readable(int fd, int ms, const std::atomic<bool>& stop)
{
    for (int waited = 0; waited < ms && !stop; waited += 20) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) > 0) return true;
    }
    return false;
}

} // namespace

LoopbackServer::LoopbackServer(Mode mode) : mode_(mode)
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (mode_ == Mode::Refuse) return; // bound, not listening: connections are refused
    if (mode_ == Mode::NeverAccept) {
        // A backlog of 0 holds one connection; the kernel drops the handshakes of the next.
        ::listen(listener_, 0);
        filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        return;
    }
    ::listen(listener_, 16);
    thread_ = std::thread([this] { serve(); });
}

LoopbackServer::~LoopbackServer()
{
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (filler_ >= 0) ::close(filler_);
    ::close(listener_);
}

void LoopbackServer::use() const
{
    host::Binding binding = host::get();
    binding.web_port = port_;
    host::install(binding);
}

bool LoopbackServer::wait_handled(std::size_t count)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return handled_ >= count; });
}

std::vector<std::string> LoopbackServer::requests()
{
    std::lock_guard lock(mutex_);
    return requests_;
}

void LoopbackServer::serve()
{
    std::size_t index = 0;
    while (!stop_) {
        if (!readable(listener_, 100, stop_)) continue;
        int conn = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0) continue;
        handle(conn, ++index);
        ::close(conn);
    }
}

void LoopbackServer::handle(int conn, std::size_t index)
{
    std::string got;
    auto done = [&] {
        std::lock_guard lock(mutex_);
        requests_.push_back(got);
        ++handled_;
        changed_.notify_all();
    };
    if (mode_ == Mode::CloseAtOnce) return done();
    // Read until the request's blank line (and whatever came with it) or the client's close.
    char buf[512];
    bool closed = false;
    while (got.find("\r\n\r\n") == std::string::npos && readable(conn, 2000, stop_)) {
        ssize_t n = ::recv(conn, buf, sizeof buf, 0);
        if (n <= 0) {
            closed = true;
            break;
        }
        got.append(buf, static_cast<std::size_t>(n));
    }
    ssize_t n;
    while (!closed && (n = ::recv(conn, buf, sizeof buf, MSG_DONTWAIT)) > 0) got.append(buf, static_cast<std::size_t>(n));
    const bool answer = mode_ == Mode::Answer || (mode_ == Mode::EveryThird && index % 3 == 0);
    if (answer) ::send(conn, "HTTP/1.1 200 OK\r\n\r\n", 19, MSG_NOSIGNAL);
    done();
    // Hold the connection until the client is done with it.
    while (!closed && readable(conn, 10000, stop_) && ::recv(conn, buf, sizeof buf, 0) > 0) {
    }
}

} // namespace tarnvel::test
