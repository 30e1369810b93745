#pragma once

#include <cstdint>
#include <vector>

#include "storage/ResultSet.h"

class StorageGroup;

// Reads a storage group as one recording: every recording section of every member once,
// in rising section ID order, going from storage to storage where the recording went.
// After overwrites a group's sections interleave across its storages (1, 2 and 5 in one,
// 3 and 4 in another): the reader follows the section order, not the order within one
// storage, and crosses storages in the middle of a storage's timeline where needed.
//
// Where one section ends and the next begins inside a storage is decided by media IDs,
// which rise over the whole group in recording order: a section begins at its first
// recording-table record, together with the audio and text-in elements just before that
// record which were written after the previous section's first record (a section taken
// up in another storage begins with what that storage received first, video or not).
//
// Reading within one storage, key groups and channel jumps are those of ResultSet; the
// key groups being followed carry over into the section that continues the recording in
// the next storage, so frames that go on with a key group across a switch are returned.
// readFrame and readTextIn read in the storage the last element came from.
//
// Threads: like ResultSet, one reader thread; it runs alongside the group's writer,
// which may switch storages and overwrite meanwhile: what the reader knows of the
// sections is refreshed whenever the group reports that they may have changed.
class MultiResultSet : public ResultSet {
public:
    explicit MultiResultSet(StorageGroup& group);
    ~MultiResultSet() override;

    // `storage` is the group the result set was made for (or null for it).
    bool initToBegin(Storage* storage, bool keyFramesOnly) override;
    bool initToEnd(Storage* storage, bool keyFramesOnly) override;
    void close() override;
    bool seekToTime(uint32_t section, BitMask32 channels, const Interval& range, Elements& out,
                    PagePosition& position) override;
    bool seekBackToTime(uint32_t section, BitMask32 channels, const DateTime& time, Elements& out,
                        PagePosition& position) override;
    bool nextElement(BitMask32 channels, TimelineElement& element, PagePosition& position) override;
    bool previousElement(BitMask32 channels, TimelineElement& element, PagePosition& position) override;

    // Puts the reader at the beginning of `section`, in whichever storage holds it.
    bool seekToSection(uint32_t section);
    // The section of the last element returned (0 before the first).
    uint32_t currentSectionID() const { return _section; }

private:
    struct Entry {
        uint32_t id = 0;
        uint64_t firstMediaID = 0;
        Storage* storage = nullptr;
    };
    enum class Verdict { Accept, Cross };

    bool initAt(Storage* storage, bool keyFramesOnly, bool end);
    void refresh();
    void refreshIfChanged();
    int currentIndex() const;
    int indexOf(uint32_t section) const;
    // The entry of `storage` whose section holds media ID `id`; -1 before its first one.
    int locate(Storage* storage, uint64_t id) const;
    // The next (previous) entry in section order that lies in the same storage.
    int nextInStorage(int index) const;
    int previousInStorage(int index) const;
    void setCurrent(int index);
    // Where the section of entries[index] begins in its storage's timeline.
    bool startOf(int index, PagePosition& position);
    // Positions the reader so that the next element read forwards (backwards) is the
    // first (last) of entries[index].
    bool enter(int index, bool forward);
    bool moveTo(Storage* storage);
    Verdict judgeForward(const TimelineElement& element, int& crossTo);
    Verdict judgeBackward(const TimelineElement& element, int& crossTo);
    // "Playback > <what> : <path>", between two lines of dashes when `framed`.
    void logPlayback(const char* what, Storage* storage, bool framed);
    // The section entered: at its storage's beginning (end), or at `position`.
    void logSection(bool forward, const Entry& entry, const PagePosition* position);

    StorageGroup& _group;
    std::vector<Entry> _entries;
    uint64_t _generation = ~uint64_t(0);
    uint32_t _section = 0;
    Storage* _sectionStorage = nullptr;
    uint64_t _lastID = 0;
    // After the reader lost its place in a storage: elements up to _lastID are passed over.
    bool _recovering = false;
    bool _keyFramesOnlyWanted = false;
    bool _endLogged = false;
};
