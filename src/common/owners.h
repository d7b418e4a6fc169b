// Owners for the few resources an operation holds: descriptors, stdio streams and heap
// buffers sized from the operation's inputs. Each one is released when the
// call that made it returns, so a daemon running for weeks cannot pile them up.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace tarnvel {

// A descriptor that closes itself. `if (!fd)` does not compile: ask valid() instead, since 0
// is a good descriptor. Closing keeps errno, so a caller can still report why a call failed.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    bool operator!() const = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (fd_ >= 0) {
            int saved = errno;
            ::close(fd_);
            errno = saved;
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// A pointer owned until scope end and given back with Release (fclose, free).
template <typename T, auto Release>
class Owned {
public:
    Owned() = default;
    explicit Owned(T* p) : p_(p) {}
    ~Owned()
    {
        if (p_) Release(p_);
    }
    Owned(Owned&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    Owned& operator=(Owned&& other) noexcept
    {
        if (this != &other) {
            if (p_) Release(p_);
            p_ = other.p_;
            other.p_ = nullptr;
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

inline void close_file(FILE* f) { std::fclose(f); }
inline void free_bytes(char* p) { std::free(p); }

using UniqueFile = Owned<FILE, close_file>;

// A heap buffer of `size` bytes (malloc/free); empty when the allocation failed or `size` is
// 0 (what malloc(0) gives differs between C libraries).
class HeapBuf {
public:
    explicit HeapBuf(std::size_t size)
        : p_(size != 0 ? static_cast<char*>(std::malloc(size)) : nullptr), size_(p_ ? size : 0) {}
    char* get() const { return p_.get(); }
    std::size_t size() const { return size_; }
    explicit operator bool() const { return static_cast<bool>(p_); }

private:
    Owned<char, free_bytes> p_;
    std::size_t size_;
};

} // namespace tarnvel
