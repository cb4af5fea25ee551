// Linked into every test program: before main, XDG_CACHE_HOME is pointed at a new
// temporary folder of the program's own, removed at its end, so the search index of
// any library a test makes (and of the real program a test starts) never lands in the
// user's cache folder. A test may still point it elsewhere for itself.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

struct TestCache {
    std::string path;
    TestCache() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tomeria-cache-XXXXXX";
        if (::mkdtemp(pattern.data())) {
            path = pattern;
            ::setenv("XDG_CACHE_HOME", path.c_str(), 1);
        }
    }
    ~TestCache() {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
};

const TestCache testCache;

} // namespace
