#include "app/group/StorageGroup.h"

#include <algorithm>
#include <limits>
#include <mutex>

#include "app/group/IStorageGroupListener.h"
#include "app/group/MultiResultSet.h"
#include "base/Exception.h"
#include "base/TarsilException.h"
#include "base/TextOf.h"
#include "base/Trace.h"
#include "storage/EventElement.h"
#include "storage/EventTrack.h"
#include "storage/MediaElement.h"
#include "storage/RecordingTable.h"
#include "storage/TarsilError.h"
#include "storage/TextInElement.h"
#include "storage/Timeline.h"
#include "storage/pager/PageType.h"

namespace {

const char* modeName(int mode) {
    return mode == StorageGroup::Record ? "Record" : "Playback";
}

const char* pathOf(const Storage* storage) {
    return storage != nullptr ? storage->path().c_str() : "NULL";
}

// The last section a storage recorded; 0 when it holds no section at all (a storage that
// never recorded still counts its first section as 1).
uint32_t lastSectionOf(Storage* storage) {
    RecordingTable* table = storage->recordingTable();
    return table != nullptr && storage->isValid() && table->firstSectionID() != 0 ? storage->currentSectionID() : 0;
}

bool holdsRecording(Storage* storage) {
    return storage->hasTrack(PageType::Timeline);
}

}  // namespace

StorageGroup::StorageGroup() = default;

StorageGroup::~StorageGroup() {
    std::vector<Storage*> members;
    {
        std::lock_guard<Mutex> lock(_storageMutex);
        members = _recording;
        members.insert(members.end(), _empty.begin(), _empty.end());
    }
    for (Storage* storage : members) {
        storage->removeListener(this);
    }
}

// ---- membership ---------------------------------------------------------------------

void StorageGroup::addStorage(Storage* storage, bool auxiliary) {
    std::lock_guard<Mutex> lock(_storageMutex);
    if (auxiliary) {
        _auxiliary.push_back(storage);
        QF_TRACE("[%s] Storage Add to AuxiliaryStorage", pathOf(storage));
        return;
    }
    storage->addListener(this);
    if (!holdsRecording(storage)) {
        _empty.push_back(storage);
        QF_TRACE("[%s] Storage Add to EmptyStorage", pathOf(storage));
    } else {
        _recording.push_back(storage);
        QF_TRACE("[%s] Storage Add to Storages", pathOf(storage));
    }
    ++_sectionGeneration;
}

bool StorageGroup::eraseStorage(Storage* storage) {
    storage->removeListener(this);
    std::lock_guard<Mutex> lock(_storageMutex);
    ++_sectionGeneration;
    const std::pair<std::vector<Storage*>*, const char*> lists[] = {
        {&_recording, "[%s] Storage Erase From Storage"},
        {&_empty, "[%s] Storage Erase From EmptyStorage"},
        {&_auxiliary, "[%s] Storage Erase From AuxiliaryStorage"}};
    for (const auto& [list, line] : lists) {
        auto found = std::find(list->begin(), list->end(), storage);
        if (found != list->end()) {
            list->erase(found);
            QF_TRACE(line, pathOf(storage));
            if (_current.load() == storage) {
                _current = nullptr;
            }
            if (_previous.load() == storage) {
                _previous = nullptr;
            }
            return true;
        }
    }
    return false;
}

void StorageGroup::addListener(IStorageGroupListener* listener) {
    std::lock_guard<Mutex> lock(_listenerMutex);
    if (std::find(_groupListeners.begin(), _groupListeners.end(), listener) == _groupListeners.end()) {
        _groupListeners.push_back(listener);
    }
}

void StorageGroup::removeListener(IStorageGroupListener* listener) {
    std::lock_guard<Mutex> lock(_listenerMutex);
    _groupListeners.erase(std::remove(_groupListeners.begin(), _groupListeners.end(), listener),
                          _groupListeners.end());
}

void StorageGroup::openGroup(const std::optional<UniqueID>& lastStorageID, uint32_t lastSectionID) {
    _previous = nullptr;
    _notificationCount = 0;
    Storage* current = selectRecordingStorage();
    _current = current;
    QF_TRACE("Recording Storage : _current : %s", current != nullptr ? current->path().c_str() : "- NULL");
    QF_TRACE("----------------------------------------------");
    if (current != nullptr) {
        updateRecordingSectionID(lastStorageID, lastSectionID);
    }
    notifySpaceChanged();
}

void StorageGroup::updateRecordingSectionID(const std::optional<UniqueID>& lastStorageID, uint32_t lastSectionID) {
    Storage* current = _current.load();
    if (lastSectionID == 0) {
        return;
    }
    // When another storage was recording last, its section may have begun after what
    // the chosen one knows: two numbers are left out so that none is used twice. When it
    // was this one, a section it was switched to but never wrote a record in still counts.
    // Section IDs are only ever raised.
    bool same = lastStorageID && lastStorageID->equals(current->storageID());
    uint32_t wanted = same ? lastSectionID : lastSectionID + 2;
    if (!same) {
        QF_TRACE("(%s) updateRecordingSectionID current = %d, last = %d", current->path().c_str(),
                 static_cast<int>(current->currentSectionID()), static_cast<int>(lastSectionID));
    }
    if (wanted > current->currentSectionID()) {
        current->setRecordingSectionID(wanted);
    }
}

bool StorageGroup::closeGroup(bool flush) {
    std::vector<Storage*> members;
    {
        std::lock_guard<Mutex> lock(_storageMutex);
        members = _recording;
        members.insert(members.end(), _auxiliary.begin(), _auxiliary.end());
        members.insert(members.end(), _empty.begin(), _empty.end());
    }
    bool ok = true;
    for (Storage* storage : members) {
        storage->removeListener(this);
        try {
            ok = storage->close(flush) && ok;
        } catch (const Exception& e) {
            QF_TRACE("StorageGroup::closeGroup(%s): %s", pathOf(storage), e.describe().c_str());
            ok = false;
        }
    }
    std::lock_guard<Mutex> lock(_storageMutex);
    _recording.clear();
    _empty.clear();
    _auxiliary.clear();
    _current = nullptr;
    _previous = nullptr;
    ++_sectionGeneration;
    return ok;
}

// ---- choosing storages --------------------------------------------------------------

Storage* StorageGroup::selectRecordingStorage() {
    std::lock_guard<Mutex> lock(_storageMutex);
    if (!_recording.empty()) {
        return lastStorage(Record);
    }
    if (!_empty.empty()) {
        return nextEmptyStorage();
    }
    if (!_auxiliary.empty()) {
        Storage* storage = lastAuxiliaryStorage();
        storage->removeListener(this);  // registered exactly once
        storage->addListener(this);
        return storage;
    }
    return nullptr;
}

Storage* StorageGroup::nextEmptyStorage() {
    if (_empty.empty()) {
        return nullptr;
    }
    Storage* storage = _empty.front();
    _empty.erase(_empty.begin());
    _recording.push_back(storage);
    QF_TRACE("Next Empty Storage = %s", pathOf(storage));
    return storage;
}

bool StorageGroup::auxiliaryCompetes(Mode mode) const {
    return !_auxiliary.empty() && (mode == Playback || _empty.empty());
}

Storage* StorageGroup::lastStorage(Mode mode) {
    std::lock_guard<Mutex> lock(_storageMutex);
    Storage* best = nullptr;
    uint32_t bestSection = 0;
    auto consider = [&](Storage* storage) {
        if (storage == nullptr || !holdsRecording(storage)) {
            return;
        }
        uint32_t section = lastSectionOf(storage);
        if (best == nullptr || section > bestSection) {
            best = storage;
            bestSection = section;
        }
    };
    for (Storage* storage : _recording) {
        consider(storage);
    }
    if (mode == Playback && !_auxiliary.empty()) {
        consider(lastAuxiliaryStorage());
    }
    if (best == nullptr && !_recording.empty()) {
        best = _recording.front();
    }
    QF_TRACE("[For %s] lastStorage[%s] ", modeName(mode), pathOf(best));
    return best;
}

Storage* StorageGroup::firstStorage(Mode mode) {
    std::lock_guard<Mutex> lock(_storageMutex);
    Storage* best = _recording.empty() ? nullptr : _recording.front();
    uint32_t bestSection = std::numeric_limits<uint32_t>::max();
    for (Storage* storage : _recording) {
        uint32_t first = storage->firstSectionID();
        if (first != 0 && first < bestSection) {
            best = storage;
            bestSection = first;
        }
    }
    if (auxiliaryCompetes(mode)) {
        Storage* auxiliary = firstAuxiliaryStorage();
        uint32_t first = auxiliary != nullptr ? auxiliary->firstSectionID() : 0;
        if (auxiliary != nullptr && (best == nullptr || (first != 0 && first < bestSection))) {
            best = auxiliary;
        }
    }
    QF_TRACE("[For %s] firstStorage[%s] ", modeName(mode), pathOf(best));
    return best;
}

Storage* StorageGroup::firstAuxiliaryStorage() {
    std::lock_guard<Mutex> lock(_storageMutex);
    Storage* best = nullptr;
    uint32_t bestSection = 0;
    for (Storage* storage : _auxiliary) {
        uint32_t section = lastSectionOf(storage);
        if (best == nullptr || section < bestSection) {
            best = storage;
            bestSection = section;
        }
    }
    QF_TRACE("firstAuxiliaryStorage[%s] ", pathOf(best));
    return best;
}

Storage* StorageGroup::lastAuxiliaryStorage() {
    std::lock_guard<Mutex> lock(_storageMutex);
    Storage* best = nullptr;
    uint32_t bestSection = 0;
    for (Storage* storage : _auxiliary) {
        uint32_t section = lastSectionOf(storage);
        if (best == nullptr || section > bestSection) {
            best = storage;
            bestSection = section;
        }
    }
    QF_TRACE("lastAuxiliaryStorage[%s] ", pathOf(best));
    return best;
}

Storage* StorageGroup::nearestStorageBySectionID(uint32_t sectionID, Mode mode, bool after) {
    std::lock_guard<Mutex> lock(_storageMutex);
    Storage* best = nullptr;
    uint32_t bestSection = 0;
    std::vector<Storage*> walk = _recording;
    if (auxiliaryCompetes(mode)) {
        walk.insert(walk.end(), _auxiliary.begin(), _auxiliary.end());
    }
    for (Storage* storage : walk) {
        RecordingTable* table = storage->recordingTable();
        RecordingSection section;
        uint32_t found = table == nullptr           ? 0
                         : after ? table->nextSectionID(sectionID, section)
                                 : table->previousSectionID(sectionID, section);
        if (found != 0 && (best == nullptr || (after ? found < bestSection : found > bestSection))) {
            best = storage;
            bestSection = found;
        }
    }
    QF_TRACE(after ? "[For %s] nextStorageBySectionID [%s]" : "[For %s] previousStorageBySectionID [%s]",
             modeName(mode), pathOf(best));
    return best;
}

Storage* StorageGroup::nextStorageBySectionID(uint32_t sectionID, Mode mode) {
    return nearestStorageBySectionID(sectionID, mode, true);
}

Storage* StorageGroup::previousStorageBySectionID(uint32_t sectionID, Mode mode) {
    return nearestStorageBySectionID(sectionID, mode, false);
}

Storage* StorageGroup::storageBySectionID(uint32_t sectionID, Mode mode) {
    std::lock_guard<Mutex> lock(_storageMutex);
    Storage* found = nullptr;
    std::vector<Storage*> walk = _recording;
    if (auxiliaryCompetes(mode)) {
        walk.insert(walk.end(), _auxiliary.begin(), _auxiliary.end());
    }
    for (Storage* storage : walk) {
        RecordingTable* table = storage->recordingTable();
        if (table != nullptr && table->hasSection(sectionID)) {
            found = storage;
        }
    }
    QF_TRACE("[For %s] StorageBySectionID [%s]", modeName(mode), pathOf(found));
    return found;
}

std::vector<Storage*> StorageGroup::recordingStorages() {
    std::lock_guard<Mutex> lock(_storageMutex);
    return _recording;
}

std::vector<Storage*> StorageGroup::emptyStorages() {
    std::lock_guard<Mutex> lock(_storageMutex);
    return _empty;
}

std::vector<Storage*> StorageGroup::auxiliaryStorages() {
    std::lock_guard<Mutex> lock(_storageMutex);
    return _auxiliary;
}

std::vector<Storage*> StorageGroup::readingStorages() {
    std::lock_guard<Mutex> lock(_storageMutex);
    std::vector<Storage*> out = _recording;
    out.insert(out.end(), _auxiliary.begin(), _auxiliary.end());
    return out;
}

std::vector<Storage*> StorageGroup::sortedBySection() {
    std::vector<Storage*> out = readingStorages();
    std::vector<std::pair<uint32_t, Storage*>> keyed;
    for (Storage* storage : out) {
        keyed.emplace_back(lastSectionOf(storage), storage);
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < keyed.size(); ++i) {
        out[i] = keyed[i].second;
    }
    return out;
}

std::vector<Storage*> StorageGroup::countedStorages() const {
    std::lock_guard<Mutex> lock(_storageMutex);
    std::vector<Storage*> out = _recording;
    out.insert(out.end(), _empty.begin(), _empty.end());
    if (out.empty()) {
        out = _auxiliary;
    }
    return out;
}

// ---- writing ------------------------------------------------------------------------

Storage* StorageGroup::requireCurrent() const {
    Storage* current = _current.load();
    if (current == nullptr) {
        // No usable member: nothing can be placed.
        QF_THROW_TARSIL(TarsilError::InvalidStorage);
    }
    return current;
}

Storage* StorageGroup::prepareWrite(const PageType& type, const IRecordable& item) {
    Storage* current = requireCurrent();
    // The storage itself tells which items feed its recording table.
    if (current->hasEnoughSpace(type, item, true)) {
        return current;
    }
    Storage* next = nullptr;
    {
        std::lock_guard<Mutex> lock(_storageMutex);
        if (_empty.empty()) {
            if (!_overwrite) {
                throw TarsilException(QF_HERE, TarsilError::NotEnoughSpace,
                                      "Not enough space: every storage of the group is full and overwrite is off");
            }
            QF_TRACE(" Current has not Enough Space, Storage Change  From First Recording Storage");
            next = firstStorage(Record);
        } else {
            next = nextEmptyStorage();
            QF_TRACE(" Current has not Enough Space, Storage Change From Empty Storage");
        }
    }
    if (next != nullptr && next != current) {
        changeRecordingStorage(next);
    }
    return _current.load();
}

void StorageGroup::changeRecordingStorage(Storage* next) {
    std::vector<IStorageGroupListener*> listeners;
    {
        std::lock_guard<Mutex> lock(_listenerMutex);
        listeners = _groupListeners;
    }
    for (IStorageGroupListener* listener : listeners) {
        listener->recordingStorageChanging(*this);
    }
    Storage* old = _current.load();
    _previous = old;
    QF_TRACE("------------- Change Recording Storage -----------");
    QF_TRACE(" [%s] ---> [%s]", pathOf(old), pathOf(next));
    QF_TRACE("--------------------------------------------------");
    // Crash guard: what the old storage holds is durable before another one records; a
    // power cut later loses nothing written there.
    old->flushAll();
    uint32_t section = lastSectionOf(old);
    uint64_t nextID = old->nextItemID();
    uint32_t basis = old->timeStampBasis();
    std::map<uint32_t, Timeline::KeyState> keyStates;
    if (Timeline* timeline = old->timeline()) {
        keyStates = timeline->keyStates();
    }
    _current = next;
    ++_sectionGeneration;
    uint32_t nextLast = lastSectionOf(next);
    next->setRecordingSectionID(std::max(section, nextLast) + 1);
    next->raiseNextItemID(nextID);
    next->setTimeStampBasis(std::max(basis, next->timeStampBasis()));
    if (nextLast < section + 1) {
        if (Timeline* timeline = next->timeline()) {
            timeline->continueRecording(keyStates);
        }
    }
    for (IStorageGroupListener* listener : listeners) {
        listener->recordingStorageChanged(*next);
    }
}

PagePosition StorageGroup::writeMedia(MediaElement& item) {
    return prepareWrite(PageType::Media, item)->writeMedia(item);
}

PagePosition StorageGroup::writePreEvent(MediaElement& item) {
    return prepareWrite(PageType::PreEvent, item)->writePreEvent(item);
}

PagePosition StorageGroup::writeTextIn(TextInElement& item) {
    return prepareWrite(PageType::TextIn, item)->writeTextIn(item);
}

PagePosition StorageGroup::writeTimeline(const TimelineLinkedElement& item, const PagePosition& elementPosition,
                                         bool updateRecordingTable) {
    Storage* previous = _previous.load();
    if (previous != nullptr && item.mediaID() < previous->nextItemID()) {
        return previous->writeTimeline(item, elementPosition, updateRecordingTable);
    }
    _previous = nullptr;  // everything from now on belongs to the current storage
    return requireCurrent()->writeTimeline(item, elementPosition, updateRecordingTable);
}

PagePosition StorageGroup::writeTimelineAuto(const TimelineLinkedElement& item, const PagePosition& elementPosition) {
    return writeTimeline(item, elementPosition, item.mediaType() == TimelineLinkedElement::Video);
}

PagePosition StorageGroup::writeEvent(EventElement& item, bool flush) {
    Storage* current = requireCurrent();
    EventTrack* events = current->eventTrack();
    bool needsPage = events == nullptr || !events->hasRoomFor(item);
    if (!_overwrite && needsPage && current->freePageCount() == 0) {
        throw TarsilException(QF_HERE, TarsilError::NotEnoughSpace,
                              "Not enough space: no page for the event and overwrite is off");
    }
    return current->writeEvent(item, flush);
}

bool StorageGroup::hasEnoughSpace(const IRecordable& item) {
    return hasEnoughSpace(PageType::Media, item, true);
}

bool StorageGroup::hasEnoughSpace(const PageType& type, const IRecordable& item, bool updatesRecordingTable) {
    Storage* current = _current.load();
    if (current == nullptr) {
        return false;
    }
    if (current->hasEnoughSpace(type, item, updatesRecordingTable)) {
        return true;
    }
    // A write would move on to the next empty storage. (Older recording storages with a
    // few pages left are not gone back to: that would start a section in the past.)
    std::lock_guard<Mutex> lock(_storageMutex);
    return !_empty.empty() && _empty.front()->hasEnoughSpace(type, item, updatesRecordingTable);
}

uint32_t StorageGroup::findNextWritablePageNumber(const PageType& type) {
    return requireCurrent()->findNextWritablePageNumber(type);
}

void StorageGroup::overwriteOldest() {
    requireCurrent()->overwriteOldest();
}

void StorageGroup::flushPage(Page& page) {
    (void)page;  // a group holds no pages of its own: its members' tracks flush there
    QF_THROW_TARSIL(TarsilError::InvalidStorage);
}

void StorageGroup::flush() {
    if (Storage* current = _current.load()) {
        current->flush();
    }
}

void StorageGroup::flushInfo() {
    if (Storage* current = _current.load()) {
        current->flushInfo();
    }
}

void StorageGroup::flushAll() {
    if (Storage* current = _current.load()) {
        current->flushAll();
    }
}

void StorageGroup::rollbackTo(uint32_t sectionID, uint64_t itemID) {
    for (Storage* storage : recordingStorages()) {
        if (storage->nextItemID() > itemID + 1) {
            storage->rollbackTo(sectionID, itemID);
        }
    }
    _previous = nullptr;
}

void StorageGroup::recordingSectionChanged(uint32_t sectionID) {
    requireCurrent()->recordingSectionChanged(sectionID);
}

uint32_t StorageGroup::currentSectionID() {
    Storage* current = _current.load();
    return current != nullptr ? current->currentSectionID() : 0;
}

uint32_t StorageGroup::firstSectionID() {
    uint32_t first = 0;
    for (Storage* storage : readingStorages()) {
        uint32_t id = storage->firstSectionID();
        if (id != 0 && (first == 0 || id < first)) {
            first = id;
        }
    }
    return first;
}

void StorageGroup::setRecordingSectionID(uint32_t sectionID) {
    requireCurrent()->setRecordingSectionID(sectionID);
}

bool StorageGroup::lastTimelineItemID(uint64_t& out) {
    Storage* current = _current.load();
    return current != nullptr && current->lastTimelineItemID(out);
}

// ---- identity and sizes -------------------------------------------------------------

bool StorageGroup::open(const char* path) {
    (void)path;
    return false;
}

void StorageGroup::format(const FormatOptions& options) {
    (void)options;  // members are formatted one by one (formatStorageFile)
    QF_THROW_TARSIL(TarsilError::InvalidStorage);
}

int StorageGroup::openHandle(const char* path, bool readOnly) {
    (void)path, (void)readOnly;
    return -1;
}

bool StorageGroup::isValid() const {
    Storage* current = _current.load();
    return current != nullptr && current->isValid();
}

bool StorageGroup::isReadOnly() const {
    Storage* current = _current.load();
    return current == nullptr || current->isReadOnly();
}

const UniqueID& StorageGroup::repositoryID() const {
    Storage* current = _current.load();
    return current != nullptr ? current->repositoryID() : Storage::repositoryID();
}

const UniqueID& StorageGroup::storageID() const {
    Storage* current = _current.load();
    return current != nullptr ? current->storageID() : Storage::storageID();
}

const std::string& StorageGroup::path() const {
    Storage* current = _current.load();
    return current != nullptr ? current->path() : Storage::path();
}

uint64_t StorageGroup::nextItemID() const {
    Storage* current = _current.load();
    return current != nullptr ? current->nextItemID() : Storage::nextItemID();
}

uint64_t StorageGroup::highestNextItemID() {
    std::lock_guard<Mutex> lock(_storageMutex);
    uint64_t highest = Storage::nextItemID();
    for (const std::vector<Storage*>* list : {&_recording, &_empty, &_auxiliary}) {
        for (Storage* storage : *list) {
            highest = std::max(highest, storage->nextItemID());
        }
    }
    return highest;
}

uint32_t StorageGroup::pageCount() const {
    uint64_t total = 0;
    for (Storage* storage : countedStorages()) {
        total += storage->pageCount();
    }
    return static_cast<uint32_t>(std::min<uint64_t>(total, std::numeric_limits<uint32_t>::max()));
}

uint64_t StorageGroup::capacity() const {
    uint64_t total = 0;
    for (Storage* storage : countedStorages()) {
        total += storage->capacity();
    }
    return total;
}

uint64_t StorageGroup::fileSize() {
    uint64_t total = 0;
    for (Storage* storage : countedStorages()) {
        total += storage->fileSize();
    }
    return total;
}

uint32_t StorageGroup::freePageCount() {
    uint64_t total = 0;
    for (Storage* storage : countedStorages()) {
        total += storage->freePageCount();
    }
    return static_cast<uint32_t>(std::min<uint64_t>(total, std::numeric_limits<uint32_t>::max()));
}

// ---- queries ------------------------------------------------------------------------

Interval StorageGroup::recordingInterval() {
    std::lock_guard<Mutex> lock(_storageMutex);
    DateTime from;
    DateTime to;
    auto widen = [&](Storage* storage) {
        Interval interval = storage->recordingInterval();
        if (!interval.from().isValid() || !interval.to().isValid()) {
            return;
        }
        if (!from.isValid() || interval.from().lessThan(from)) {
            from = interval.from();
        }
        if (!to.isValid() || interval.to().greaterThan(to)) {
            to = interval.to();
        }
    };
    for (Storage* storage : _recording) {
        widen(storage);
    }
    QF_TRACE("Recording Interval Only Recording Storage : %s", textOf(Interval(from, to)).c_str());
    for (Storage* storage : _auxiliary) {
        widen(storage);
    }
    QF_TRACE("Recording Interval With Auxiliary + Recording Storage : %s", textOf(Interval(from, to)).c_str());
    return from.isValid() ? Interval(from, to) : Interval();
}

void StorageGroup::recordingDates(std::map<Date, RecordingTable::DateIDs>& out) {
    std::lock_guard<Mutex> lock(_storageMutex);
    for (Storage* storage : readingStorages()) {
        storage->recordingDates(out);
    }
}

std::vector<RecordingSection> StorageGroup::recordingSections() {
    std::vector<RecordingSection> out;
    for (Storage* storage : readingStorages()) {
        std::vector<RecordingSection> sections = storage->recordingSections();
        out.insert(out.end(), sections.begin(), sections.end());
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const RecordingSection& a, const RecordingSection& b) { return a.id() < b.id(); });
    return out;
}

void StorageGroup::sectionRecords(uint32_t sectionID, const Interval& interval,
                                  std::vector<RecordingTableElement>& out) {
    if (Storage* storage = storageBySectionID(sectionID, Playback)) {
        storage->sectionRecords(sectionID, interval, out);
    }
}

void StorageGroup::recordingTimeTable(BitMask32 channels, const Interval& interval,
                                      std::vector<RecordingTable::TimeSlice>& out) {
    std::lock_guard<Mutex> lock(_storageMutex);
    for (Storage* storage : readingStorages()) {
        storage->recordingTimeTable(channels, interval, out);
    }
}

void StorageGroup::eventCalendarDates(std::set<Date>& out) {
    std::lock_guard<Mutex> lock(_storageMutex);
    for (Storage* storage : readingStorages()) {
        storage->eventCalendarDates(out);
    }
}

void StorageGroup::textInCalendarDates(std::set<Date>& out) {
    std::lock_guard<Mutex> lock(_storageMutex);
    for (Storage* storage : readingStorages()) {
        storage->textInCalendarDates(out);
    }
}

std::vector<uint32_t> StorageGroup::allSectionIDs() {
    std::vector<uint32_t> ids;
    for (Storage* storage : readingStorages()) {
        if (RecordingTable* table = storage->recordingTable()) {
            for (uint32_t id : table->sectionIDs()) {
                ids.push_back(id);
            }
        }
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

void StorageGroup::events(const EventQuery& query, uint32_t section, std::vector<EventElement>& out, int direction,
                          bool& limitReached) {
    limitReached = false;
    std::vector<uint32_t> ids = allSectionIDs();
    if (ids.empty()) {
        return;
    }
    if (section == 0) {
        section = ids.back();
    }
    auto at = std::lower_bound(ids.begin(), ids.end(), section);
    if (at == ids.end() || *at != section) {
        return;
    }
    for (size_t i = static_cast<size_t>(at - ids.begin()); i < ids.size();) {
        if (Storage* storage = storageBySectionID(ids[i], Playback)) {
            storage->events(query, ids[i], out, direction, limitReached);
            if (limitReached) {
                return;
            }
        }
        if (direction < 0) {
            if (i == 0) {
                break;
            }
            --i;
        } else {
            ++i;
        }
    }
}

void StorageGroup::textIns(const Interval& interval, std::vector<TextInElement>& out, int maxCount) {
    for (Storage* storage : sortedBySection()) {
        storage->textIns(interval, out, maxCount);
        if (maxCount > 0 && out.size() >= size_t(maxCount)) {
            return;
        }
    }
}

std::unique_ptr<ResultSet> StorageGroup::createResultSet() {
    return std::make_unique<MultiResultSet>(*this);
}

RecordingTable* StorageGroup::recordingTable() {
    Storage* current = _current.load();
    return current != nullptr ? current->recordingTable() : nullptr;
}

PreEventTrack* StorageGroup::preEventTrack() {
    Storage* current = _current.load();
    return current != nullptr ? current->preEventTrack() : nullptr;
}

EventTrack* StorageGroup::eventTrack() {
    Storage* current = _current.load();
    return current != nullptr ? current->eventTrack() : nullptr;
}

// ---- log and info -------------------------------------------------------------------

void StorageGroup::log(const char* text, int level, bool flush) {
    if (Storage* current = _current.load()) {
        current->log(text, level, flush);
    } else {
        QF_TRACE("<TARSIL LOG: %s>", text);
    }
}

bool StorageGroup::setInfo(const std::string& key, const std::string& value, bool flush) {
    std::vector<Storage*> members;
    {
        std::lock_guard<Mutex> lock(_storageMutex);
        members = _recording;
        members.insert(members.end(), _auxiliary.begin(), _auxiliary.end());
        members.insert(members.end(), _empty.begin(), _empty.end());
    }
    bool ok = !members.empty();
    for (Storage* storage : members) {
        ok = storage->setInfo(key, value, flush) && ok;
    }
    return ok;
}

bool StorageGroup::info(const std::string& key, std::string& value) {
    Storage* current = _current.load();
    return current != nullptr && current->info(key, value);
}

void StorageGroup::infoAll(std::map<std::string, std::string>& out) {
    if (Storage* current = _current.load()) {
        current->infoAll(out);
    }
}

// ---- what members report ------------------------------------------------------------

void StorageGroup::spaceChanged(Storage& storage, uint32_t freePageCount, uint32_t pageCount) {
    (void)storage, (void)freePageCount, (void)pageCount;
    ++_sectionGeneration;  // pages were taken or given up: sections may have gone
    ++_notificationCount;
    notifySpaceChanged();
}

void StorageGroup::changeBegun(Storage& storage) {
    (void)storage;
}

void StorageGroup::changeFinished(Storage& storage) {
    (void)storage;
}

void StorageGroup::recordingSectionChanged(Storage& storage, uint32_t sectionID) {
    (void)storage;
    ++_sectionGeneration;
    notifySectionChanged(sectionID);
}

void StorageGroup::trackRemoved(Storage& storage, const PageType& type) {
    (void)storage, (void)type;
    ++_sectionGeneration;
}
