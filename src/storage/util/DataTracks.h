#pragma once

#include <vector>

#include "storage/pager/PageType.h"

// The track types that hold recorded data and are repaired and cut by the correction;
// the free list, journal, log and info tracks are the storage's own and kept as they are.
inline const std::vector<const PageType*>& correctedTrackTypes() {
    static const std::vector<const PageType*> types = {&PageType::Timeline, &PageType::RecordingTable,
                                                       &PageType::Media,    &PageType::PreEvent,
                                                       &PageType::Event,    &PageType::TextIn,
                                                       &PageType::Bad};
    return types;
}

inline bool isCorrectedTrackType(const PageType& type) {
    for (const PageType* t : correctedTrackTypes()) {
        if (t->equals(type)) {
            return true;
        }
    }
    return false;
}
