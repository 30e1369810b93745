#include "network/protocol/SessionHandleTable.h"

#include <cstdlib>

namespace {

bool isPrime(int n) {
    if (n < 2) {
        return false;
    }
    for (int d = 2; d * d <= n; ++d) {
        if (n % d == 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

int SessionHandleTable::smallestPrimeNotBelow(int n) {
    while (!isPrime(n)) {
        ++n;
    }
    return n;
}

SessionHandleTable::SessionHandleTable(int sessionCount)
    : _entries(static_cast<size_t>(4 * (smallestPrimeNotBelow(sessionCount) + 1) - 1)) {}

int SessionHandleTable::hash(int key) const {
    return static_cast<int>(std::llabs(static_cast<long long>(key)) % capacity());
}

void SessionHandleTable::insert(int handle, int slot) {
    int start = hash(handle);
    int i = start;
    do {
        Entry& entry = _entries[static_cast<size_t>(i)];
        if (entry.free) {
            entry = Entry{false, handle, slot};
            return;
        }
        i = (i + 1) % capacity();
    } while (i != start);
}

int SessionHandleTable::indexOf(int handle) const {
    int start = hash(handle);
    int i = start;
    do {
        const Entry& entry = _entries[static_cast<size_t>(i)];
        if (!entry.free && entry.key == handle) {
            return i;
        }
        i = (i + 1) % capacity();
    } while (i != start);
    return -1;
}

int SessionHandleTable::find(int handle) const {
    int i = indexOf(handle);
    return i == -1 ? -1 : _entries[static_cast<size_t>(i)].value;
}

void SessionHandleTable::remove(int handle) {
    int i = indexOf(handle);
    if (i != -1) {
        _entries[static_cast<size_t>(i)].free = true;
    }
}
