// Requests to the web server: a fresh socket per request, connected over loopback.
#include "web/server.h"

#include "common/host.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace tarnvel {

UniqueFd server_socket() { return UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP)); }

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
