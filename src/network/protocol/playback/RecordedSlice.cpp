#include "network/protocol/playback/RecordedSlice.h"

bool RecordedSlice::operator<(const RecordedSlice& other) const {
    if (interval.from() != other.interval.from()) return interval.from() < other.interval.from();
    if (interval.to() != other.interval.to()) return interval.to() < other.interval.to();
    return id < other.id;
}
