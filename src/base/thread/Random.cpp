#include "base/thread/Random.h"

#include <cerrno>
#include <sys/random.h>

#include "base/SystemException.h"

Random& Random::instance() {
    static std::atomic<Random*> slot{nullptr};
    return createOnce(slot, [] { return new Random(); });
}

uint32_t Random::next() {
    uint32_t value = 0;
    fill(&value, sizeof value);
    return value;
}

void Random::fill(void* out, size_t length) {
    auto* at = static_cast<unsigned char*>(out);
    while (length > 0) {
        ssize_t got = getrandom(at, length, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw SystemException(QF_HERE, errno);
        }
        at += got;
        length -= static_cast<size_t>(got);
    }
}
