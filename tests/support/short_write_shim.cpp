// A disk that fills up, for tests: preloaded (LD_PRELOAD), this library lets writes to
// the files named by TOMERIA_FULL_DISK (a shell pattern matched against the file's whole
// path) store only TOMERIA_DISK_FREE bytes in all (default 7): the write that reaches
// the limit writes what still fits and returns that short count, every later one fails
// with ENOSPC, exactly as write() behaves on a full file system. The budget starts
// afresh whenever either variable changes; with TOMERIA_FULL_DISK unset, writes pass.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fnmatch.h>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <unistd.h>

namespace {

std::mutex lock;
std::string lastSetting;
long long used = 0;

// How many of `count` bytes a write to `fd` may store: `count` when the file is not on
// the full disk, fewer (0 means ENOSPC) once the budget is spent.
size_t allowance(int fd, size_t count) {
    const char* pattern = std::getenv("TOMERIA_FULL_DISK");
    const char* freeText = std::getenv("TOMERIA_DISK_FREE");
    const std::string setting =
        std::string(pattern ? pattern : "") + '\n' + (freeText ? freeText : "");
    const std::lock_guard<std::mutex> guard(lock);
    if (setting != lastSetting) {
        lastSetting = setting;
        used = 0;
    }
    if (!pattern || !*pattern)
        return count;
    char link[64];
    char path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    if (n <= 0)
        return count;
    path[n] = '\0';
    if (::fnmatch(pattern, path, 0) != 0)
        return count;
    const long long budget = freeText ? std::atoll(freeText) : 7;
    const long long left = budget > used ? budget - used : 0;
    const size_t granted = size_t(left) < count ? size_t(left) : count;
    used += (long long)granted;
    return granted;
}

template <typename F> F next(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

// Lets a test check that the shim is in place.
int tomeria_short_write_shim_loaded() {
    return 1;
}

ssize_t write(int fd, const void* buf, size_t count) {
    static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
    const size_t granted = count ? allowance(fd, count) : 0;
    if (count && !granted) {
        errno = ENOSPC;
        return -1;
    }
    return real(fd, buf, granted);
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
    static const auto real = next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    const size_t granted = count ? allowance(fd, count) : 0;
    if (count && !granted) {
        errno = ENOSPC;
        return -1;
    }
    return real(fd, buf, granted, offset);
}

ssize_t pwrite64(int fd, const void* buf, size_t count, off64_t offset) {
    static const auto real = next<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64");
    const size_t granted = count ? allowance(fd, count) : 0;
    if (count && !granted) {
        errno = ENOSPC;
        return -1;
    }
    return real(fd, buf, granted, offset);
}

} // extern "C"
