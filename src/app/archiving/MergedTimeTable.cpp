#include "app/archiving/MergedTimeTable.h"

#include <algorithm>

#include "base/TextOf.h"
#include "base/Trace.h"

namespace {

bool contains(const Interval& interval, const DateTime& t) {
    return !t.lessThan(interval.from()) && !t.greaterThan(interval.to());
}

}  // namespace

void MergedTimeTable::clear() {
    _slices.clear();
    _received.clear();
}

void MergedTimeTable::mergeAll(const std::vector<RecordedSlice>& slices) {
    clear();
    for (const RecordedSlice& slice : slices) {
        if (!slice.interval.from().isValid() || !slice.interval.to().isValid() ||
            slice.interval.to().lessThan(slice.interval.from())) {
            continue;  // a slice the recorder sent without a proper interval bounds nothing
        }
        _received.push_back(slice);
        merge(slice);
    }
    trace();
}

void MergedTimeTable::merge(const RecordedSlice& slice) {
    QF_TRACE("MergedTimeTable::merge : slice = %s", textOf(slice.interval).c_str());
    if (_slices.empty()) {
        _slices.push_back(slice);
        return;
    }
    RecordedSlice m = slice;
    auto it = _slices.begin();
    while (it != _slices.end()) {
        if (it->interval.to().plusSeconds(1).lessThan(m.interval.from())) {
            ++it;
        } else if (!it->interval.from().greaterThan(m.interval.to().plusSeconds(1))) {
            DateTime from = it->interval.from().lessThan(m.interval.from()) ? it->interval.from() : m.interval.from();
            DateTime to = it->interval.to().greaterThan(m.interval.to()) ? it->interval.to() : m.interval.to();
            m.interval = Interval(from, to);
            m.channels = BitMask32(m.channels.value() | it->channels.value());
            it = _slices.erase(it);
        } else {
            break;
        }
    }
    _slices.insert(it, m);
    QF_TRACE("MergedTimeTable::merge : merged = %s", textOf(m.interval).c_str());
}

void MergedTimeTable::trace() const {
    QF_TRACE("[MergedTimeTable::trace()]");
    for (size_t i = 0; i < _slices.size(); ++i) {
        QF_TRACE("%d : %s", static_cast<int>(i), textOf(_slices[i].interval).c_str());
    }
    QF_TRACE("[End trace]");
}

Interval MergedTimeTable::endOfRecording() const {
    return _slices.empty() ? Interval() : Interval(_slices.back().interval.to());
}

Interval MergedTimeTable::nextChunk(const DateTime& begin, int limit) const {
    DateTime start;
    DateTime end;
    long long accumulated = 0;
    for (const RecordedSlice& slice : _slices) {
        const Interval& s = slice.interval;
        if (s.to().lessThan(begin)) {
            continue;
        }
        long long d = 0;
        bool first = !start.isValid();
        if (first) {
            start = contains(s, begin) ? begin : s.from();
            d = s.to().secondsSince(start) + 1LL;
        } else {
            d = s.to().secondsSince(s.from()) + 1LL;
        }
        if (accumulated + d >= limit) {
            // Counted from where the chunk really starts inside a first slice that began
            // earlier, so the chunk never ends before it begins.
            const DateTime& base = first ? start : s.from();
            return Interval(start, base.plusSeconds(static_cast<int>(limit - accumulated - 1)));
        }
        end = s.to();
        accumulated += d;
    }
    return start.isValid() ? Interval(start, end) : Interval();
}

DateTime MergedTimeTable::overlapBegin(const Interval& chunk) const {
    const DateTime& begin = chunk.from();
    if (!begin.isValid()) {
        return begin;
    }
    // Section IDs follow recording order. The chunk continues the first recorded section
    // that covers its begin (or, in a gap, the last one that ended before it); every
    // section recorded after that one comes later in recording order, whatever its times.
    bool found = false;
    uint32_t current = 0;
    for (const RecordedSlice& slice : _received) {
        if (contains(slice.interval, begin) && (!found || slice.id < current)) {
            current = slice.id;
            found = true;
        }
    }
    if (!found) {
        for (const RecordedSlice& slice : _received) {
            if (slice.interval.to().lessThan(begin) && (!found || slice.id > current)) {
                current = slice.id;
                found = true;
            }
        }
    }
    DateTime lowest = begin;
    if (!found) {
        return lowest;
    }
    for (const RecordedSlice& slice : _received) {
        if (slice.id > current && slice.interval.from().lessThan(lowest)) {
            lowest = slice.interval.from();
        }
    }
    return lowest;
}
