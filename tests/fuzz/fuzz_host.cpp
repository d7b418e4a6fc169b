#include "fuzz_host.h"

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace tarnvel::fuzz {

test::FakeHost& fresh_host()
{
    static test::FakeHost host;
    host.commands.clear();
    host.sleeps.clear();
    host.ioctls.clear();
    host.on_ioctl = nullptr;
    host.on_sysinfo = nullptr;
    host.on_run = nullptr;
    host.on_shell = nullptr;
    host.on_sleep = nullptr;
    const std::filesystem::path root = host.path("");
    for (const auto& entry : std::filesystem::directory_iterator(root)) std::filesystem::remove_all(entry.path());
    if (::chdir(root.c_str()) != 0) __builtin_trap();
    return host;
}

std::string text(const std::uint8_t* data, std::size_t size)
{
    return std::string(reinterpret_cast<const char*>(data), size);
}

std::vector<std::string> words(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> out;
    if (size == 0) return out;
    std::string all = text(data, size);
    std::size_t start = 0;
    for (;;) {
        std::size_t end = all.find('\0', start);
        out.push_back(all.substr(start, end - start));
        if (end == std::string::npos) return out;
        start = end + 1;
    }
}

std::string confined(const test::FakeHost& host, const std::string& base, std::string word)
{
    if (word.find("..") != std::string::npos) std::replace(word.begin(), word.end(), '.', '_');
    return host.path(base) + "/" + word;
}

} // namespace tarnvel::fuzz
