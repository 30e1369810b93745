#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "base/Date.h"
#include "base/Interval.h"
#include "base/thread/Mutex.h"
#include "storage/TextInElement.h"
#include "storage/Track.h"
#include "storage/TrackPageIndex.h"

// The text-in track: one 128-byte TextInElement per text line, grouped in text
// sections. Each element stores the position of its section's head; when the date
// changes or the time of day goes back, a stop element ("Date Time Changed", no
// channels) closes the section and the next element opens a new one. Sections and a
// page index are kept in memory and rebuilt at open. Written by the writer; the queries
// take the track's mutex and read through their own iterators.
class TextInTrack : public Track {
public:
    static constexpr const char* StopText = "Date Time Changed";

    struct TextSection {
        PagePosition head;
        DateTime firstTime;
        DateTime lastTime;
        uint64_t firstID = 0;
        uint64_t lastID = 0;
    };

    TextInTrack();
    ~TextInTrack() override;

    void init(Storage* storage, bool write, uint32_t lastPageNumber) override;
    bool close(bool flush) override;
    std::unique_ptr<IRecordable> newElement() const override;
    bool overwrite(uint64_t before) override;
    void rollback(uint64_t after, IRecordable& scratch) override;

    // Appends a text line (ID and section set by the storage); a stop element goes first
    // when the date changed or the time went back.
    PagePosition writeTextIn(TextInElement& element);
    // The elements inside an interval (all when unset), oldest first, at most maxCount
    // (0: all); stop elements are left out.
    void elements(const Interval& interval, std::vector<TextInElement>& out, int maxCount = 0);
    void calendarDates(std::set<Date>& out);
    std::vector<TextSection> sections();

private:
    void rebuildSections();
    void writeStop(const TextInElement& cause);
    static bool isStopElement(const TextInElement& e);

    Mutex _mutex;
    PagePosition _lastUpdatePosition;
    DateTime _lastTime;
    // The last element written is a stop element: the next one opens a section.
    bool _afterStop = false;
    std::vector<TextSection> _sections;
    TrackPageIndex _pageIndex;
};
