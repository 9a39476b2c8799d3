#include "core/Random.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

namespace {

Random::Source g_source = nullptr;

// Old kernels lack getrandom(2) (ENOSYS); the device gives the same pool there.
bool readDevice(unsigned char* out, std::size_t n) {
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < n) {
        ssize_t got = read(fd, out + done, n - done);
        if (got > 0) {
            done += static_cast<std::size_t>(got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    close(fd);
    return done == n;
}

bool readSystem(void* out, std::size_t n) {
    auto* bytes = static_cast<unsigned char*>(out);
    std::size_t done = 0;
    while (done < n) {
        ssize_t got = getrandom(bytes + done, n - done, 0);
        if (got > 0) {
            done += static_cast<std::size_t>(got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return done == n || readDevice(bytes + done, n - done);
}

}  // namespace

namespace Random {

bool fillBytes(void* out, std::size_t n) {
    if (n == 0) return true;
    if (out == nullptr) return false;
    return g_source != nullptr ? g_source(out, n) : readSystem(out, n);
}

void setSourceForTesting(Source source) { g_source = source; }

}  // namespace Random
