#pragma once

#include <vector>

// Maps session handles to pool slots: an open-addressing hash table with linear probing,
// sized 4 * (p + 1) - 1 slots for the smallest prime p not below the pool size (407 for a
// pool of 100), so that it never runs more than a quarter full. Not thread-safe; the facade
// guards it with its mutex.
class SessionHandleTable {
public:
    explicit SessionHandleTable(int sessionCount);

    // Ignored when the table is full.
    void insert(int handle, int slot);
    // The slot of `handle`, or -1.
    int find(int handle) const;
    void remove(int handle);
    int capacity() const { return static_cast<int>(_entries.size()); }

    static int smallestPrimeNotBelow(int n);

private:
    struct Entry {
        bool free = true;
        int key = 0;
        int value = 0;
    };
    int hash(int key) const;
    int indexOf(int handle) const;

    std::vector<Entry> _entries;
};
