// Names of the files on the shared disk, as the thumbnail runs "-m" and "-e" meet them: any
// bytes but '/' and NUL. The input holds names separated by NULs; a name starting with '|'
// goes, without it, into the folder's ".thumbnail" folder, one starting with '>' is a folder
// holding a photo. Every file is a photo with an embedded thumbnail. The runs start nothing
// but jhead and convert, never on a path outside the disk, and remove nothing but thumbnails.
#include "dispatch/dispatch.h"
#include "fake_host.h"
#include "fuzz_host.h"
#include "jpeg_files.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void breach(const std::string& command)
{
    std::fprintf(stderr, "thumbnail run: %s\n", command.c_str());
    std::abort();
}

void check(const tarnvel::test::FakeHost& host)
{
    const std::string disk = host.path("/disk/");
    for (const std::string& command : host.commands) {
        if (command == "sh: echo 1 > /proc/sys/vm/drop_caches") continue;
        bool known = false;
        for (const char* program : {"run: jhead ", "run: convert "})
            known = known || command.rfind(program, 0) == 0;
        if (!known) breach(command);
        if (command.find(disk) == std::string::npos && command.find("/var/tmp/tmp.jpg") == std::string::npos)
            breach(command);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tarnvel::test::FakeHost& host = tarnvel::fuzz::fresh_host();
    // Made first, so that a file of the same name cannot stand in their way.
    host.make_dir("/disk/.thumbnail");
    host.make_dir("/disk/sub");
    static const std::string photo = tarnvel::test::jpeg_file({});
    std::vector<std::string> sources;
    for (std::string name : tarnvel::fuzz::words(data, size)) {
        std::string folder = "/disk/";
        if (!name.empty() && (name[0] == '|' || name[0] == '>')) {
            folder = name[0] == '|' ? "/disk/.thumbnail/" : "/disk/sub/";
            name.erase(0, 1);
        }
        std::replace(name.begin(), name.end(), '/', '_');
        if (name.empty() || name == "." || name == ".." || name.size() > NAME_MAX) continue;
        host.write(folder + name, photo);
        if (folder != "/disk/.thumbnail/") sources.push_back(folder + name);
    }
    for (const char* option : {"-m", "-e"}) {
        tarnvel::test::Argv argv({option, host.path("/disk")});
        tarnvel::dispatch(argv.get());
        check(host);
        for (const std::string& source : sources) {
            if (!host.exists(source)) breach("removed " + source);
        }
        host.commands.clear();
    }
    return 0;
}
