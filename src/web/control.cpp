// Telling webs what to do from the device's scripts: close the files it holds for a name
// (before the disk's files are moved or removed under it), and restart it from its pid file.
#include "web/control.h"

#include "common/fixed.h"
#include "common/host.h"
#include "common/owners.h"
#include "common/text.h"
#include "web/server.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tarnvel {
namespace {

// The file-close request is built here: the name may be at most 81 characters.
constexpr std::size_t kRequestSize = 128;
// The pid file's first line is read with this limit (at most 19 characters).
constexpr std::size_t kPidLine = 20;

} // namespace

void close_webs_files(char** argv)
{
    const char* name = argv[2];
    if (name == nullptr) {
        refuse("-i: no name given");
        return;
    }
    // A line end (or any control byte) would add headers, or a second request, to what webs reads.
    for (const char* c = name; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte < 0x20 || byte == 0x7F) {
            refuse("-i: name holds the control byte %#04x", byte);
            return;
        }
    }
    char request[kRequestSize];
    if (!fit_format(request, "GET /WEBS_FILES_CLOSE.%s.tarnvelcmd HTTP/1.1\r\n\r\n", name)) {
        refuse("-i: name of %zu characters does not fit the %zu-byte request", std::strlen(name), kRequestSize);
        return;
    }
    UniqueFd sock = server_socket();
    if (!sock.valid() || !connect_server(sock)) return;
    // The request goes without its NUL, and the connection closes at once.
    send_request(sock, request, std::strlen(request));
}

void reinit_webs()
{
    char line[kPidLine];
    {
        UniqueFile pid_file = fopen_fixed("/var/run/webs.pid", "re");
        if (!pid_file || std::fgets(line, sizeof line, pid_file.get()) == nullptr) return;
    }
    char* end = nullptr;
    // strtoll, as everywhere in the tool: one number parser in the device's binary.
    const long long recorded = std::strtoll(line, &end, 10);
    // No number, or 0 and 1, which never name the server.
    if (end == line || recorded < 2) return;
    // The recorded pid only decides; webs is stopped by name.
    std::printf("reinit webs \n");
    host::get().shell("killall webs");
    host::get().shell("rm -rf /var/run/webs.pid");
    host::get().shell("webs&");
}

} // namespace tarnvel
