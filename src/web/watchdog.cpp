// The two watchdogs that keep webs serving the shared disk. The responsiveness watchdog keeps
// it answering: a small local HTTP probe every few seconds, a restart after six silent probes
// in a row (a connection not accepted in time is one), a start whenever the connection fails
// at once (refused: nothing listens).
// The presence watchdog keeps a process named webs running. Neither prints anything; every
// failure is retried next cycle.
#include "web/watchdog.h"

#include "common/host.h"
#include "common/text.h"
#include "web/process.h"
#include "web/server.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tarnvel {
namespace {

// The health probe goes out with its terminating NUL: 34 bytes, as webs has always seen it.
constexpr char kProbe[] = "GET /TEST.tarnvelcmd HTTP/1.1\r\n\r\n";
static_assert(sizeof kProbe == 34);
// At most this much of the reply is read; its content is never looked at.
constexpr std::size_t kReplyMax = 15;

constexpr unsigned kReplyWait = 3;
constexpr unsigned kAfterRestart = 10;
constexpr unsigned kBetweenProbes = 1;
constexpr unsigned kStartupQuiet = 60;
constexpr unsigned kBetweenLooks = 5;

void start_webs() { host::get().shell("webs&"); }

// Kills the process whose command name is webs and starts a new one. A process that only
// mentions webs in its arguments (a jhead run on webs.jpg) is never the one killed. With no
// webs there is nothing to kill: "kill 0" would signal the watchdog's own process group.
void restart_webs(WebWatch& watch)
{
    const int pid = find_pid_by_name("webs");
    if (pid == 0) {
        start_webs();
        return;
    }
    if (fit_format(watch.work, "kill %u;sleep 1;webs&", static_cast<unsigned>(pid))) host::get().shell(watch.work);
}

void probe(WebWatch& watch)
{
    UniqueFd sock = server_socket();
    if (!sock.valid()) return;
    if (connect_server(sock)) {
        (void)::fcntl(sock.get(), F_SETFL, O_NONBLOCK);
        send_request(sock, kProbe, sizeof kProbe);
        host::get().sleep(kReplyWait);
        if (::read(sock.get(), watch.work, kReplyMax) > 0) {
            watch.patience = kWebPatience;
            return;
        }
    } else if (errno != EINPROGRESS) {
        // The connection failed at once: refused (nothing listens), or the loopback itself is
        // down or without its address. That says nothing of webs: start it, as for a refusal
        // (one already serving keeps the port and the new one ends); the silent-probe count
        // stays as it is.
        start_webs();
        return;
    }
    // Nothing came back, the connection closed empty, the read failed, or the connection was
    // not accepted within the 5 s bound (EINPROGRESS): a webs that no longer calls accept()
    // still holds the port, and once the browsers waiting on it fill its listen queue, every
    // connect runs into the bound. A new webs would find the port taken; only a restart of
    // the hung one helps.
    if (watch.patience != 0) {
        --watch.patience;
        return;
    }
    restart_webs(watch);
    watch.patience = kWebPatience;
    host::get().sleep(kAfterRestart);
}

} // namespace

void chk_web_cycle(WebWatch& watch)
{
    probe(watch);
    host::get().sleep(kBetweenProbes);
}

void chk_web(char**)
{
    WebWatch watch;
    for (;;) chk_web_cycle(watch);
}

void chk_web_isExist_cycle()
{
    if (find_pid_by_name("webs") == 0) start_webs();
    host::get().sleep(kBetweenLooks);
}

void chk_web_isExist(char**)
{
    host::get().sleep(kStartupQuiet);
    for (;;) chk_web_isExist_cycle();
}

} // namespace tarnvel
