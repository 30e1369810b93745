#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/UniqueID.h"
#include "base/thread/Mutex.h"
#include "storage/IStorageListener.h"
#include "storage/Storage.h"

class IStorageGroupListener;

// Several storage files acting as one recording target and one playback source. The
// recorder and the archiving code write into the group as into one Storage; the group
// sends each write to its current member and, when that one is full, moves on: to the
// next storage that never recorded (the empty list, in order), or, when none is left, to
// the storage holding the oldest section, which then overwrites its own oldest pages, so
// the group forms a ring. Across a switch it carries the recording section (the next
// storage records section s + 1), the media IDs (never lower than the old storage's next
// one), the time-stamp basis (never lowered) and the key groups in progress, so media IDs
// and sections keep rising over the whole group and a frame continuing its key group
// into the next storage is not refused. Readers read the group as one recording through
// the MultiResultSet of createResultSet().
//
// With overwrite off the group never gives up recorded data: a write that fits neither
// the current storage nor an empty one fails with TarsilException 1 ("Not enough
// space") before anything is written, and hasEnoughSpace answers false for it.
//
// Members are owned by the caller (the StorageGroupContext) and must outlive their
// membership; the group registers itself as the listener of each recording and empty
// member and passes their space and section changes on to its own listeners (summed).
//
// Threads: writes come from one archiving thread; queries (sizes, intervals, lists,
// readers' choice of storages) from any thread. The storage mutex guards the member
// lists and is held while the group calls into members, never the reverse; the current
// and previous storage are published atomically for readers. Listener notifications run
// on the writing thread.
class StorageGroup : public Storage, public IStorageListener {
public:
    // How a storage is chosen: for writing or for reading.
    enum Mode : int { Record = 1, Playback = 2 };

    StorageGroup();
    ~StorageGroup() override;

    // ---- membership --------------------------------------------------------------------
    // An auxiliary storage takes part in playback only. A storage whose track list has no
    // timeline joins the empty list, any other the recording list.
    void addStorage(Storage* storage, bool auxiliary);
    // False when no list holds it.
    bool eraseStorage(Storage* storage);
    using Storage::addListener;
    using Storage::removeListener;
    void addListener(IStorageGroupListener* listener);
    void removeListener(IStorageGroupListener* listener);
    // Chooses the current storage (see selectRecordingStorage) and, when the group file
    // names another storage as the one last recording, moves the chosen storage's section
    // on past `lastSectionID` so that section IDs never repeat.
    void openGroup(const std::optional<UniqueID>& lastStorageID, uint32_t lastSectionID);
    // Closes every member (recording, auxiliary, then empty list) and forgets them all;
    // true only when every close succeeded.
    bool closeGroup(bool flush);

    // With overwrite off, writes that fit no storage are refused instead of overwriting
    // the oldest recording. On by default.
    void setOverwrite(bool overwrite) { _overwrite = overwrite; }
    bool overwrites() const { return _overwrite; }

    // ---- choosing storages (null when none qualifies) ------------------------------------
    Storage* currentStorage() const { return _current.load(); }
    Storage* previousStorage() const { return _previous.load(); }
    // The storage with the smallest non-zero first section (the oldest recording).
    Storage* firstStorage(Mode mode);
    // The storage holding recording with the largest last section (the newest).
    Storage* lastStorage(Mode mode);
    Storage* firstAuxiliaryStorage();
    Storage* lastAuxiliaryStorage();
    // The storage holding the nearest section after (before) `sectionID`, and the storage
    // holding `sectionID` itself.
    Storage* nextStorageBySectionID(uint32_t sectionID, Mode mode);
    Storage* previousStorageBySectionID(uint32_t sectionID, Mode mode);
    Storage* storageBySectionID(uint32_t sectionID, Mode mode);
    std::vector<Storage*> recordingStorages();
    std::vector<Storage*> emptyStorages();
    std::vector<Storage*> auxiliaryStorages();
    // The storages readers read: recording, then auxiliary.
    std::vector<Storage*> readingStorages();
    // Changes whenever a member's sections may have changed (a new section, pages given
    // up); readers refresh what they know of the sections when it does.
    uint64_t sectionGeneration() const { return _sectionGeneration.load(); }

    // ---- the storage interface -----------------------------------------------------------
    // A group is filled with addStorage and opened with openGroup, never from a path.
    bool open(const char* path) override;
    bool close(bool flush) override { return closeGroup(flush); }
    void format(const FormatOptions& options) override;
    bool isValid() const override;
    bool isReadOnly() const override;
    const UniqueID& repositoryID() const override;
    const UniqueID& storageID() const override;
    const std::string& path() const override;
    uint64_t nextItemID() const override;
    uint64_t highestNextItemID() override;
    // Summed over the recording and empty lists; over the auxiliary list only when both
    // are empty.
    uint32_t pageCount() const override;
    uint64_t capacity() const override;
    uint64_t fileSize() override;
    uint32_t freePageCount() override;
    const RecorderType& recorderType() const override { return _recorderType; }
    void setRecorderType(const RecorderType& type) override { _recorderType = type; }

    uint64_t superBlockOffset() override { return 0; }
    uint32_t ioMinBlockSize() override { return 512; }
    IFreePageAllocator* freePageAllocator() override { return nullptr; }
    ITransactionHandler* transactionHandler() override { return nullptr; }

    uint32_t findNextWritablePageNumber(const PageType& type) override;
    void overwriteOldest() override;
    void flushPage(Page& page) override;
    void flush() override;
    void flushInfo() override;
    void flushAll() override;
    // True when the current storage takes the item without overwriting, or the next empty
    // storage would.
    bool hasEnoughSpace(const IRecordable& item) override;
    bool hasEnoughSpace(const PageType& type, const IRecordable& item, bool updatesRecordingTable = true) override;

    PagePosition writeMedia(MediaElement& item) override;
    PagePosition writePreEvent(MediaElement& item) override;
    PagePosition writeTextIn(TextInElement& item) override;
    // To the storage that holds the element: the previous recording storage when the
    // element's media ID is one of its own, else the current one.
    PagePosition writeTimeline(const TimelineLinkedElement& item, const PagePosition& elementPosition,
                               bool updateRecordingTable) override;
    PagePosition writeTimelineAuto(const TimelineLinkedElement& item, const PagePosition& elementPosition) override;
    PagePosition writeEvent(EventElement& item, bool flush) override;
    // Every member holding items after `itemID` is cut back to it.
    void rollbackTo(uint32_t sectionID, uint64_t itemID) override;
    void recordingSectionChanged(uint32_t sectionID) override;
    uint32_t currentSectionID() override;
    uint32_t firstSectionID() override;
    void setRecordingSectionID(uint32_t sectionID) override;
    bool lastTimelineItemID(uint64_t& out) override;

    Interval recordingInterval() override;
    void recordingDates(std::map<Date, RecordingTable::DateIDs>& out) override;
    std::vector<RecordingSection> recordingSections() override;
    void sectionRecords(uint32_t sectionID, const Interval& interval, std::vector<RecordingTableElement>& out) override;
    void recordingTimeTable(BitMask32 channels, const Interval& interval,
                            std::vector<RecordingTable::TimeSlice>& out) override;
    void eventCalendarDates(std::set<Date>& out) override;
    using Storage::events;
    // Walks the sections from `section` (0: the group's last one) in `direction` from
    // storage to storage until the query's limit is reached.
    void events(const EventQuery& query, uint32_t section, std::vector<EventElement>& out, int direction,
                bool& limitReached) override;
    void textInCalendarDates(std::set<Date>& out) override;
    void textIns(const Interval& interval, std::vector<TextInElement>& out, int maxCount = 0) override;
    std::unique_ptr<ResultSet> createResultSet() override;

    RecordingTable* recordingTable() override;
    PreEventTrack* preEventTrack() override;
    EventTrack* eventTrack() override;

    void log(const char* text, int level, bool flush) override;
    // On every member: recording, auxiliary, then empty list.
    bool setInfo(const std::string& key, const std::string& value, bool flush) override;
    bool info(const std::string& key, std::string& value) override;
    void infoAll(std::map<std::string, std::string>& out) override;

    // ---- IStorageListener: what members report ------------------------------------------
    void spaceChanged(Storage& storage, uint32_t freePageCount, uint32_t pageCount) override;
    void changeBegun(Storage& storage) override;
    void changeFinished(Storage& storage) override;
    void recordingSectionChanged(Storage& storage, uint32_t sectionID) override;
    void trackRemoved(Storage& storage, const PageType& type) override;

protected:
    int openHandle(const char* path, bool readOnly) override;

private:
    Storage* selectRecordingStorage();
    // Under the storage mutex.
    Storage* nextEmptyStorage();
    void updateRecordingSectionID(const std::optional<UniqueID>& lastStorageID, uint32_t lastSectionID);
    // The storage that takes the next item of `type`, switching first when needed.
    Storage* prepareWrite(const PageType& type, const IRecordable& item);
    void changeRecordingStorage(Storage* next);
    Storage* requireCurrent() const;
    // The members whose pages and bytes the summed counts include.
    std::vector<Storage*> countedStorages() const;
    // Recording then auxiliary list, stably ordered by last section.
    std::vector<Storage*> sortedBySection();
    // Whether the auxiliary list competes when choosing in `mode`.
    bool auxiliaryCompetes(Mode mode) const;
    Storage* nearestStorageBySectionID(uint32_t sectionID, Mode mode, bool after);
    std::vector<uint32_t> allSectionIDs();

    mutable Mutex _storageMutex;
    std::vector<Storage*> _recording;
    std::vector<Storage*> _empty;
    std::vector<Storage*> _auxiliary;
    std::atomic<Storage*> _current{nullptr};
    std::atomic<Storage*> _previous{nullptr};
    Mutex _listenerMutex;
    std::vector<IStorageGroupListener*> _groupListeners;
    uint32_t _notificationCount = 0;
    std::atomic<uint64_t> _sectionGeneration{0};
    RecorderType _recorderType;
    bool _overwrite = true;
};
