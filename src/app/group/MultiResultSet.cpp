#include "app/group/MultiResultSet.h"

#include <algorithm>
#include <cstdio>

#include "app/group/StorageGroup.h"
#include "storage/RecordingTable.h"
#include "storage/Storage.h"
#include "storage/Timeline.h"
#include "storage/TimelineLinkedElement.h"
#include "storage/pager/Page.h"

namespace {

bool isVideo(const TimelineElement& element) {
    return element.mediaType() == TimelineLinkedElement::Video;
}

// Leading elements of a section are few (the audio and text-in of one instant); a walk
// back over more is stopped.
constexpr int MaxLeadingElements = 4096;

}  // namespace

MultiResultSet::MultiResultSet(StorageGroup& group) : _group(group) {}

MultiResultSet::~MultiResultSet() = default;

void MultiResultSet::close() {
    ResultSet::close();
    _entries.clear();
    _generation = ~uint64_t(0);
    _section = 0;
    _sectionStorage = nullptr;
    _lastID = 0;
    _recovering = false;
    _endLogged = false;
}

void MultiResultSet::logPlayback(const char* what, Storage* storage, bool framed) {
    if (storage == nullptr) {
        return;
    }
    static const char* const Dashes = "---------------------------------------------";
    if (framed) {
        storage->logFromReader(Dashes);
    }
    std::string line = std::string("Playback > ") + what + " : " + storage->path();
    storage->logFromReader(line.c_str());
    if (framed) {
        storage->logFromReader(Dashes);
    }
}

void MultiResultSet::logSection(bool forward, const Entry& entry, const PagePosition* position) {
    char line[512];
    const char* which = forward ? "[NEXT SECTION]" : "[PREV SECTION]";
    if (position == nullptr) {
        std::snprintf(line, sizeof line, "%s %s SECTION ID = %u POSITION %s", which, entry.storage->path().c_str(),
                      entry.id, forward ? "BEGIN" : "END");
    } else {
        std::snprintf(line, sizeof line, "%s %s SECTION ID = %u POSITION (%u, %u), MEDIA ID = %llu", which,
                      entry.storage->path().c_str(), entry.id, position->number, position->offset,
                      static_cast<unsigned long long>(entry.firstMediaID));
    }
    entry.storage->logFromReader(line);
}

// ---- what the reader knows of the sections ------------------------------------------

void MultiResultSet::refresh() {
    _generation = _group.sectionGeneration();
    _entries.clear();
    for (Storage* storage : _group.readingStorages()) {
        RecordingTable* table = storage->recordingTable();
        if (table == nullptr || !storage->isValid()) {
            continue;
        }
        for (const RecordingTable::SectionStart& start : table->sectionStarts()) {
            _entries.push_back(Entry{start.id, start.firstMediaID, storage});
        }
    }
    std::stable_sort(_entries.begin(), _entries.end(), [](const Entry& a, const Entry& b) {
        return a.id != b.id ? a.id < b.id : a.firstMediaID < b.firstMediaID;
    });
}

void MultiResultSet::refreshIfChanged() {
    if (_group.sectionGeneration() != _generation) {
        refresh();
    }
}

int MultiResultSet::currentIndex() const {
    for (size_t i = 0; i < _entries.size(); ++i) {
        if (_entries[i].id == _section && _entries[i].storage == _sectionStorage) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int MultiResultSet::indexOf(uint32_t section) const {
    int found = -1;
    for (size_t i = 0; i < _entries.size(); ++i) {
        if (_entries[i].id == section) {
            found = static_cast<int>(i);  // the last storage holding it
        }
    }
    return found;
}

int MultiResultSet::locate(Storage* storage, uint64_t id) const {
    int found = -1;
    uint64_t best = 0;
    for (size_t i = 0; i < _entries.size(); ++i) {
        const Entry& e = _entries[i];
        if (e.storage == storage && e.firstMediaID <= id && (found < 0 || e.firstMediaID >= best)) {
            found = static_cast<int>(i);
            best = e.firstMediaID;
        }
    }
    return found;
}

int MultiResultSet::nextInStorage(int index) const {
    for (size_t i = static_cast<size_t>(index) + 1; i < _entries.size(); ++i) {
        if (_entries[i].storage == _entries[index].storage) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int MultiResultSet::previousInStorage(int index) const {
    for (int i = index - 1; i >= 0; --i) {
        if (_entries[i].storage == _entries[index].storage) {
            return i;
        }
    }
    return -1;
}

void MultiResultSet::setCurrent(int index) {
    _section = _entries[index].id;
    _sectionStorage = _entries[index].storage;
}

// ---- positioning --------------------------------------------------------------------

bool MultiResultSet::moveTo(Storage* storage) {
    if (this->storage() == storage) {
        return true;
    }
    return bind(storage, _keyFramesOnlyWanted);
}

bool MultiResultSet::startOf(int index, PagePosition& position) {
    const Entry& entry = _entries[index];
    RecordingTable* table = entry.storage->recordingTable();
    RecordingTableElement first;
    if (table == nullptr || !table->firstRecordOfSection(entry.id, first)) {
        return false;
    }
    position = first.position();
    if (index == 0 || _entries[index - 1].storage == entry.storage) {
        return true;  // the section follows its predecessor in this storage's timeline
    }
    // Taken up here after another storage: what this storage received first belongs to
    // it, video or not. Elements written before the previous section began do not.
    uint64_t floor = _entries[index - 1].firstMediaID;
    Timeline* timeline = entry.storage->timeline();
    Page page(entry.storage->superBlock(), entry.storage->pageCache());
    TimelineElement element;
    PagePosition at = position;
    for (int steps = 0; steps < MaxLeadingElements && timeline->previous(page, at, element); ++steps) {
        if (isVideo(element) || element.mediaID() <= floor) {
            break;
        }
        position = at;
    }
    return true;
}

bool MultiResultSet::enter(int index, bool forward) {
    const Entry& entry = _entries[index];
    bool continues = _section != 0 && (forward ? entry.id == _section + 1 : entry.id + 1 == _section);
    std::map<uint32_t, uint32_t> kept = keys();
    if (storage() != nullptr && storage() != entry.storage) {
        logPlayback(forward ? "changeToNextStorage" : "changeToPreviousStorage", entry.storage, false);
    }
    // Forwards the section begins at its start; backwards it ends where the next section
    // of its storage starts, or with the storage's timeline.
    int edge = forward ? index : nextInStorage(index);
    bool atTimelineEnd = forward ? previousInStorage(index) < 0 : edge < 0;
    bool ok;
    if (atTimelineEnd) {
        logSection(forward, entry, nullptr);
        ok = forward ? ResultSet::initToBegin(entry.storage, _keyFramesOnlyWanted)
                     : ResultSet::initToEnd(entry.storage, _keyFramesOnlyWanted);
    } else {
        PagePosition start;
        ok = moveTo(entry.storage) && startOf(edge, start) &&
             place(start, forward ? Pending::Forward : Pending::None);
        logSection(forward, entry, &start);
    }
    if (continues) {
        keys() = kept;
    } else {
        clearKeys();
    }
    setCurrent(index);
    return ok;
}

bool MultiResultSet::initAt(Storage* storage, bool keyFramesOnly, bool end) {
    if (storage != nullptr && storage != &_group) {
        return false;
    }
    close();
    _keyFramesOnlyWanted = keyFramesOnly;
    refresh();
    const char* what = end ? "initToEnd" : "initToBegin";
    if (_entries.empty()) {
        // Recording without a section yet: the storage the group would read first (last).
        Storage* only = end ? _group.lastStorage(StorageGroup::Playback) : _group.firstStorage(StorageGroup::Playback);
        logPlayback(what, only, true);
        return only != nullptr && (end ? ResultSet::initToEnd(only, keyFramesOnly)
                                       : ResultSet::initToBegin(only, keyFramesOnly));
    }
    logPlayback(what, end ? _entries.back().storage : _entries.front().storage, true);
    return end ? enter(static_cast<int>(_entries.size()) - 1, false) : enter(0, true);
}

bool MultiResultSet::initToBegin(Storage* storage, bool keyFramesOnly) {
    return initAt(storage, keyFramesOnly, false);
}

bool MultiResultSet::initToEnd(Storage* storage, bool keyFramesOnly) {
    return initAt(storage, keyFramesOnly, true);
}

bool MultiResultSet::seekToSection(uint32_t section) {
    refresh();
    int index = indexOf(section);
    if (index < 0) {
        return false;
    }
    if (_entries[index].storage != storage()) {
        logPlayback("changeStorageBySectionID", _entries[index].storage, false);
    }
    _section = 0;  // a seek follows no key group
    _lastID = 0;
    _recovering = false;
    return enter(index, true);
}

bool MultiResultSet::seekToTime(uint32_t section, BitMask32 channels, const Interval& range, Elements& out,
                                PagePosition& position) {
    out.clear();
    return seekToSection(section) && ResultSet::seekToTime(section, channels, range, out, position);
}

bool MultiResultSet::seekBackToTime(uint32_t section, BitMask32 channels, const DateTime& time, Elements& out,
                                    PagePosition& position) {
    out.clear();
    return seekToSection(section) && ResultSet::seekBackToTime(section, channels, time, out, position);
}

// ---- reading ------------------------------------------------------------------------

MultiResultSet::Verdict MultiResultSet::judgeForward(const TimelineElement& element, int& crossTo) {
    int current = currentIndex();
    if (current < 0) {
        current = locate(storage(), element.mediaID());
        if (current >= 0) {
            setCurrent(current);
        }
        return Verdict::Accept;
    }
    for (;;) {
        int own = nextInStorage(current);
        int next = current + 1 < static_cast<int>(_entries.size()) ? current + 1 : -1;
        if (next < 0) {
            return Verdict::Accept;
        }
        if (own == next) {
            // The recording goes on in this storage.
            if (element.mediaID() < _entries[own].firstMediaID) {
                return Verdict::Accept;
            }
            current = own;
            setCurrent(current);
            continue;
        }
        // The next section lies in another storage: this one ends where the recording
        // moved away, or where its own next section begins.
        uint64_t boundary = own >= 0 ? _entries[own].firstMediaID : ~uint64_t(0);
        if (_entries[next].firstMediaID > _entries[current].firstMediaID) {
            boundary = std::min(boundary, _entries[next].firstMediaID);
        }
        if (element.mediaID() < boundary) {
            return Verdict::Accept;
        }
        crossTo = next;
        return Verdict::Cross;
    }
}

MultiResultSet::Verdict MultiResultSet::judgeBackward(const TimelineElement& element, int& crossTo) {
    int current = currentIndex();
    if (current < 0) {
        current = locate(storage(), element.mediaID());
        if (current >= 0) {
            setCurrent(current);
        }
        return Verdict::Accept;
    }
    for (;;) {
        int own = previousInStorage(current);
        int previous = current - 1;
        if (previous < 0) {
            return Verdict::Accept;
        }
        bool inside = element.mediaID() >= _entries[current].firstMediaID;
        if (!inside && own != previous) {
            inside = !isVideo(element) && element.mediaID() > _entries[previous].firstMediaID;
        }
        if (inside) {
            return Verdict::Accept;
        }
        if (own == previous) {
            current = own;
            setCurrent(current);
            continue;
        }
        crossTo = previous;
        return Verdict::Cross;
    }
}

bool MultiResultSet::nextElement(BitMask32 channels, TimelineElement& element, PagePosition& position) {
    if (storage() == nullptr) {
        return false;
    }
    for (size_t crossings = 0; crossings <= _entries.size() + 2;) {
        refreshIfChanged();
        // An element that turns out to belong elsewhere must not count as a key read.
        std::map<uint32_t, uint32_t> before = keys();
        if (!ResultSet::nextElement(channels, element, position)) {
            if (lostPosition()) {
                // Overwritten under the reader: what is left of this storage is newer.
                Storage* here = storage();
                std::map<uint32_t, uint32_t> kept = keys();
                ++crossings;
                if (!ResultSet::initToBegin(here, _keyFramesOnlyWanted)) {
                    return false;
                }
                keys() = kept;
                _recovering = true;
                continue;
            }
            refresh();
            int current = currentIndex();
            int next = current >= 0 ? current + 1 : -1;
            if (current < 0) {
                for (size_t i = 0; i < _entries.size(); ++i) {
                    if (_entries[i].storage != storage() && _entries[i].firstMediaID > _lastID) {
                        next = static_cast<int>(i);
                        break;
                    }
                }
            }
            if (next < 0 || next >= static_cast<int>(_entries.size()) || _entries[next].storage == storage()) {
                if (current >= 0 && !_endLogged) {
                    storage()->logFromReader(("SECTION " + std::to_string(_section) + " is the LAST").c_str());
                    _endLogged = true;  // once, however often a live reader asks again
                }
                return false;
            }
            ++crossings;
            enter(next, true);
            continue;
        }
        if (_recovering) {
            if (element.mediaID() <= _lastID) {
                continue;
            }
            _recovering = false;
        }
        int crossTo = -1;
        if (judgeForward(element, crossTo) == Verdict::Cross) {
            keys() = before;
            ++crossings;
            enter(crossTo, true);
            continue;
        }
        _lastID = element.mediaID();
        _endLogged = false;
        return true;
    }
    return false;
}

bool MultiResultSet::previousElement(BitMask32 channels, TimelineElement& element, PagePosition& position) {
    if (storage() == nullptr) {
        return false;
    }
    for (size_t crossings = 0; crossings <= _entries.size() + 2;) {
        refreshIfChanged();
        // An element that turns out to belong elsewhere must not count as a key read.
        std::map<uint32_t, uint32_t> before = keys();
        if (!ResultSet::previousElement(channels, element, position)) {
            refresh();
            int current = currentIndex();
            if (current <= 0) {
                if (current == 0 && !_endLogged) {
                    storage()->logFromReader(("SECTION " + std::to_string(_section) + " is the FIRST").c_str());
                    _endLogged = true;
                }
                return false;
            }
            ++crossings;
            enter(current - 1, false);
            continue;
        }
        int crossTo = -1;
        if (judgeBackward(element, crossTo) == Verdict::Cross) {
            keys() = before;
            ++crossings;
            enter(crossTo, false);
            continue;
        }
        _lastID = element.mediaID();
        _endLogged = false;
        return true;
    }
    return false;
}
