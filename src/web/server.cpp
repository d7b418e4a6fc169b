// Requests to the web server: a fresh socket per request, connected over loopback.
#include "web/server.h"

#include "common/host.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace tarnvel {
namespace {

// Bounds the connection attempt as well as each write: a webs that never accepts or never
// reads holds no request longer than this.
constexpr time_t kSendTimeout = 5;

#if defined(__mips__)
// The device's time value: seconds then microseconds, two 32-bit fields.
static_assert(sizeof(timeval) == 8, "the device's struct timeval");
#endif

} // namespace

UniqueFd server_socket()
{
    UniqueFd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    const timeval send_timeout{kSendTimeout, 0};
    if (sock.valid()) (void)::setsockopt(sock.get(), SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);
    return sock;
}

bool connect_server(const UniqueFd& sock)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(host::get().web_port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(sock.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

void send_request(const UniqueFd& sock, const void* bytes, std::size_t size)
{
    (void)::send(sock.get(), bytes, size, MSG_NOSIGNAL);
}

} // namespace tarnvel
