// A small web server on 127.0.0.1 and an ephemeral port, in a thread of the test, standing in
// for webs: it records what each connection sent and answers (or not) as its mode says.
#pragma once

#include "common/host.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnvel::test {

class LoopbackServer {
public:
    enum class Mode {
        Answer,      // replies to every request
        Silent,      // accepts, reads, never replies
        CloseAtOnce, // accepts and closes without reading
        EveryThird,  // replies to the third, sixth, ... request only
        Refuse,      // the port is taken but nothing listens: connections are refused
        NeverAccept, // listens with its backlog full and never accepts: connections hang
    };

    explicit LoopbackServer(Mode mode);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    unsigned short port() const { return port_; }
    // Points the seam's web_port at this server (the fake host restores it on destruction).
    void use() const;
    // Waits until `count` connections have been handled (request read, reply sent or
    // connection closed). False after 5 s without.
    bool wait_handled(std::size_t count);
    // The bytes each connection sent, in order (after the server is done with it).
    std::vector<std::string> requests();

private:
    void serve();
    void handle(int conn, std::size_t index);

    Mode mode_;
    int listener_ = -1;
    int filler_ = -1; // the connection that fills the backlog of NeverAccept
    unsigned short port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t handled_ = 0;
    std::vector<std::string> requests_;
    std::thread thread_;
};

} // namespace tarnvel::test
