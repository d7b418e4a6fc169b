// The connection to the device's web server webs on 127.0.0.1 (TCP port 80 on the device).
#pragma once

#include "common/owners.h"

#include <cstddef>

namespace tarnvel {

// A fresh TCP socket for one request; not valid when none could be made. Its connection
// attempt and its writes give up after 5 s. It is not handed to the programs the watchdog
// starts, so a restarted webs never holds it.
UniqueFd server_socket();

// Connects `sock` to the web server. False when the connection failed: errno tells an attempt
// that ran out of time (EINPROGRESS: nothing accepts) from one that failed at once (refused:
// nothing listens; or no route to the loopback).
bool connect_server(const UniqueFd& sock);

// One write of `size` bytes; the result is not looked at. A server that has gone meanwhile
// makes it fail instead of ending the tool with SIGPIPE.
void send_request(const UniqueFd& sock, const void* bytes, std::size_t size);

} // namespace tarnvel
