#pragma once

#include <cstdint>
#include <vector>

// One part of a long list (events, text-in entries) answered a page at a time. When
// `hasMore` is set, asking again from `nextCursor` gives the entries that follow. A plain
// value.
template <typename Entry>
struct ListPage {
    std::vector<Entry> entries;
    bool hasMore = false;
    uint64_t nextCursor = 0;
};
