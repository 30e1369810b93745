#pragma once

#include <cstdint>
#include <deque>
#include <set>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/thread/Mutex.h"
#include "storage/InfoTrack.h"
#include "storage/LogTrack.h"
#include "storage/EventQuery.h"
#include "storage/PagePosition.h"
#include "storage/RecordingTable.h"
#include "storage/TimeStampClock.h"
#include "storage/pager/FormatOptions.h"
#include "storage/pager/IPageCacheMonitor.h"
#include "storage/pager/PageCache.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"
#include "storage/transaction/IJournaledStorage.h"
#include "storage/transaction/PageJoinTransaction.h"

class EventElement;
class IFreePageAllocator;
class IOverwritePreparer;
class IRecordable;
class IStorageListener;
class ITransactionHandler;
class BadTrack;
class EventTrack;
class MediaElement;
class MediaTrack;
class PreEventTrack;
class ResultSet;
class TextInElement;
class TextInTrack;
class Timeline;
class TimelineLinkedElement;
class Track;

// One storage file seen as a whole: it opens, closes and formats the file, owns the
// superblock, page cache and tracks, keeps the monotonic time-stamp basis, writes the
// storage log and info, finds pages for the tracks (overwriting the oldest recording
// when none is free), journals every page that joins a track, and tells its listeners
// about space and section changes. The device-dependent parts (handles, allocator,
// transaction handler) come from the concrete storage.
//
// Tracks plug in by type (installTrack): the log and info tracks are the storage's own;
// the data tracks (timeline, recording table, media, pre-event, event, text-in, bad) are
// installed by the concrete storage. Every algorithm walks the installed tracks only.
//
// Threads: one thread writes (the archiving thread of its schedule); other threads read
// through their own page objects and query sizes, info and the log. The listener list
// and the track registry each have their own mutex; everything else belongs to the
// writing thread.
class Storage : public IPageCacheMonitor, public IJournaledStorage {
public:
    Storage();
    ~Storage() override;
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;

    // IPageCacheMonitor: listeners are told before and after every page write.
    void beforeWrite(Page& page, bool headerOnly) override;
    void afterWrite(Page& page, bool headerOnly) override;

    // Lifecycle. `open` is false for a file that cannot be read or holds no valid
    // storage (its handles stay open, so `format` can follow) or whose check fails;
    // device errors and corruption (TarsilException 4) propagate after the storage has
    // been shut down again. `close` is true only when everything closed cleanly.
    virtual bool open(const char* path);
    virtual bool close(bool flush);
    // Requires the handles of an `open`, successful or not. Leaves the storage open.
    virtual void format(const FormatOptions& options);
    virtual void setRepositoryID(const UniqueID& id);
    // Opens read-only from the next open on, even where writing is allowed: nothing of
    // the file is changed (no replay, no migration, no log).
    void setReadOnly(bool readOnly) { _forceReadOnly = readOnly; }
    // What the check of the last read-only open found (empty when it found nothing).
    const std::vector<std::string>& openFindings() const { return _openFindings; }

    // Identity and capacity. The virtual ones are answered by a storage group for its
    // members (summed, or those of the storage recording).
    virtual bool isValid() const { return _superBlock.isValid(); }
    bool isBroken() const { return _broken; }
    bool isOpen() const { return _readHandle != -1; }
    bool isReadOnly() const override { return _writeHandle == -1; }
    bool isAbleTo(int ability) const { return _superBlock.isAbleTo(ability); }
    virtual const UniqueID& repositoryID() const { return _superBlock.repositoryID(); }
    virtual const UniqueID& storageID() const { return _superBlock.storageID(); }
    virtual uint32_t pageCount() const { return _superBlock.pageCount(); }
    uint32_t pageSize() const { return _superBlock.pageSize(); }
    virtual uint64_t capacity() const { return uint64_t(pageCount()) * pageSize(); }
    virtual const RecorderType& recorderType() const { return _superBlock.recorderType(); }
    virtual void setRecorderType(const RecorderType& type);
    virtual uint32_t freePageCount();
    virtual const std::string& path() const { return _path; }
    uint32_t timeStampBasis() const { return _timeStampBasis; }
    virtual uint64_t nextItemID() const { return _nextItemID; }
    // Past every item ID given out here (a storage group: in any of its members).
    virtual uint64_t highestNextItemID() { return _nextItemID; }

    // Device-dependent parts.
    virtual uint64_t superBlockOffset() = 0;
    virtual uint32_t ioMinBlockSize() = 0;
    virtual uint64_t fileSize() = 0;
    virtual int overwritePreparerCapacity() { return 1000; }
    // The media track's overwrite preparer, bound to this storage by its start.
    virtual std::unique_ptr<IOverwritePreparer> newOverwritePreparer();
    IFreePageAllocator* freePageAllocator() override = 0;
    ITransactionHandler* transactionHandler() override = 0;

    // Writing.
    uint32_t findNextWritablePageNumber(const PageType& type) override;
    virtual void overwriteOldest();
    // A track hands a page it filled or must make durable. A page still listed as free is
    // written whole and joins its track with the next batch of page joins (a journaled
    // PageJoinTransaction for about 8 MiB of pages); any other page writes its changed
    // blocks, data before header.
    virtual void flushPage(Page& page);
    // Every track's unsaved page, the waiting page joins, the information values and the
    // superblock header; durable when it returns.
    virtual void flush();
    // The information values alone, durable when it returns, ahead of items written but
    // still in memory (a first resume record goes to the disk before its frame does).
    virtual void flushInfo();
    virtual void flushAll();
    // Whether `item` can be written without overwriting anything: the free pages cover
    // every page the write takes (see pagesNeededFor). Without a type, into the media track.
    virtual bool hasEnoughSpace(const IRecordable& item);
    virtual bool hasEnoughSpace(const PageType& type, const IRecordable& item,
                                bool updatesRecordingTable = true);
    // New pages a write of `item` into the track of `type` takes before it is done: the
    // item's own (0, 1 or 2), a timeline page when its entry does not fit, and a
    // recording-table page when three records do not fit (video only, and only when
    // `updatesRecordingTable`). A missing track counts one page.
    uint32_t pagesNeededFor(const PageType& type, const IRecordable& item, bool updatesRecordingTable = true);
    virtual bool handleBadPage(Page& page, bool wasNew);

    // Items. Media, pre-event and text-in items share one ID sequence.
    virtual PagePosition writeMedia(MediaElement& item);
    virtual PagePosition writePreEvent(MediaElement& item);
    virtual PagePosition writeTextIn(TextInElement& item);
    // Appends the timeline entry of an element written before at `elementPosition`; a
    // video entry also feeds the recording table when `updateRecordingTable`. (0, 0)
    // when the timeline refused the frame (a key frame is needed first).
    virtual PagePosition writeTimeline(const TimelineLinkedElement& item, const PagePosition& elementPosition,
                                       bool updateRecordingTable);
    // writeTimeline, feeding the recording table with video only.
    virtual PagePosition writeTimelineAuto(const TimelineLinkedElement& item, const PagePosition& elementPosition);
    virtual PagePosition writeEvent(EventElement& item, bool flush);
    void raiseNextItemID(uint64_t id);
    void setTimeStampBasis(uint32_t basis);
    virtual void rollbackTo(uint32_t sectionID, uint64_t itemID);
    virtual void recordingSectionChanged(uint32_t sectionID);
    // The current recording section (the recording table's; 0 without one).
    virtual uint32_t currentSectionID();
    virtual uint32_t firstSectionID();
    // Makes the recording go on in section `sectionID`: the open section is finished and
    // the next record starts the new one (a storage group carrying its numbering).
    virtual void setRecordingSectionID(uint32_t sectionID);
    // The ID of the timeline's last entry; false when the timeline is empty.
    virtual bool lastTimelineItemID(uint64_t& out);

    // Queries answered by the tracks, while the storage is valid.
    virtual Interval recordingInterval();
    virtual void recordingDates(std::map<Date, RecordingTable::DateIDs>& out);
    virtual std::vector<RecordingSection> recordingSections();
    virtual void sectionRecords(uint32_t sectionID, const Interval& interval, std::vector<RecordingTableElement>& out);
    virtual void recordingTimeTable(BitMask32 channels, const Interval& interval,
                                    std::vector<RecordingTable::TimeSlice>& out);
    virtual void eventCalendarDates(std::set<Date>& out);
    virtual void events(const EventQuery& query, uint32_t section, std::vector<EventElement>& out, int direction,
                        bool& limitReached);
    void events(const EventQuery& query, uint32_t section, std::vector<EventElement>& out, int direction = 1);
    virtual void textInCalendarDates(std::set<Date>& out);
    virtual void textIns(const Interval& interval, std::vector<TextInElement>& out, int maxCount = 0);

    // A reader of this storage's recording in playing order, unbound (init it first).
    // Readers run on any thread, each with its own result set.
    virtual std::unique_ptr<ResultSet> createResultSet();

    // The installed tracks by their kind; null when the storage has none of that kind.
    Timeline* timeline();
    virtual RecordingTable* recordingTable();
    MediaTrack* mediaTrack();
    virtual PreEventTrack* preEventTrack();
    virtual EventTrack* eventTrack();
    TextInTrack* textInTrack();
    BadTrack* badTrack();

    // Log and info.
    void log(const char* text, int level, bool flush) override;
    void holdLog(bool hold) override;
    // A line from a reader, on any thread: traced at once and kept (the newest 256) until
    // the writing thread next writes the log, which stores it.
    void logFromReader(const char* text);
    virtual bool setInfo(const std::string& key, const std::string& value, bool flush);
    virtual bool info(const std::string& key, std::string& value);
    virtual void infoAll(std::map<std::string, std::string>& out);
    std::vector<LogTrack::Message> logMessages() { return LogTrack::messages(*this); }

    // Listeners.
    void addListener(IStorageListener* listener);
    void removeListener(IStorageListener* listener);

    // Track registry: the in-memory copy of the superblock's track list.
    bool findTrack(const PageType& type, TrackListItem& out);
    bool hasTrack(const PageType& type);
    std::vector<TrackListItem> tracks();
    void registerPage(Page& page);
    void updateTrackFirst(const PageType& type, uint32_t page, uint32_t checksum) override;
    void updateTrackLast(const PageType& type, uint32_t page, uint32_t checksum) override;
    void forgetTrack(const PageType& type) override;
    void reloadTrackRegistry() override;
    // Pages written whole while still free join their tracks in batches (one journal and
    // one barrier for several pages); this joins the waiting ones now.
    void joinPendingPages() override;

    // Tracks.
    void installTrack(std::unique_ptr<Track> track);
    Track* track(const PageType& type);
    LogTrack& logTrack() { return _logTrack; }
    InfoTrack& infoTrack() { return _infoTrack; }

    SuperBlock& superBlock() override { return _superBlock; }
    PageCache& pageCache() override { return _pageCache; }

protected:
    // The recoverer writes through the tracks before the storage opens them for use.
    friend class StorageRecoverer;

    virtual int openHandle(const char* path, bool readOnly) = 0;
    virtual bool closeTracks(bool flush);
    virtual void openTracks();
    // Every data track but the timeline drops what precedes `itemID`.
    virtual void overwriteBefore(uint64_t itemID);
    virtual void removeAllItems();
    // The first item ID after the correction of a writable open (the timeline's last
    // item + 1, else the superblock's next item ID).
    virtual uint64_t correctedNextItemID();
    // The open's consistency step: a writable storage is corrected and recovered, a
    // read-only one checked; false when it cannot be trusted.
    virtual bool checkOnOpen();
    virtual void migrate();

    // Before the first byte of an item is written: frees pages (overwriting the oldest
    // recording) until the item, its timeline entry and a recording-table record can all
    // be written without an overwrite in the middle of the item.
    void makeRoomFor(Track& track, const IRecordable& item);
    void notifySpaceChanged();
    void notifyChangeBegun();
    void notifyChangeFinished();
    void notifySectionChanged(uint32_t sectionID);
    void checkTimeChange();
    void updateTimeStamp();
    void closeHandles();
    void barrier();
    // A change already failed; the journal must be replayed before anything is written.
    void refuseWritesAfterFailure();

    // The installed data tracks in open order.
    std::vector<Track*> dataTracksInOpenOrder();
    Track* slot(const PageType& type);

    std::string _path;
    int _readHandle = -1;
    int _writeHandle = -1;
    SuperBlock _superBlock;
    PageCache _pageCache;
    uint64_t _nextItemID = 1;
    int _retentionSeconds = -1;
    uint32_t _timeStampBasis = 0;
    TimeStampClock _clock;
    bool _broken = true;
    bool _logEnabled = true;
    bool _forceReadOnly = false;
    // The next media ID the correction of this open found (0 before any).
    uint64_t _correctedNextID = 0;
    std::vector<std::string> _openFindings;

private:
    struct HeldLine {
        std::string text;
        int level;
        bool flush;
    };
    struct Slot {
        PageType type;
        std::unique_ptr<Track> track;
    };

    void writeLog(const char* text, int level, bool flush);
    // A page that left the free list in memory was written whole: it joins its track with
    // the next batch.
    void queueJoin(Page& page);
    uint32_t joinBatchSize();
    void storeReaderLines();
    void shutDownAfterFailure();

    Mutex _listenerMutex;
    std::vector<IStorageListener*> _listeners;
    Mutex _registryMutex;
    std::vector<TrackListItem> _registry;
    LogTrack _logTrack;
    InfoTrack _infoTrack;
    std::vector<Slot> _slots;
    // Written pages waiting to join their tracks, in the order they were written.
    std::vector<PageJoinTransaction::Join> _pendingJoins;
    int _logHold = 0;
    std::deque<HeldLine> _heldLines;
    Mutex _readerLogMutex;
    std::deque<std::string> _readerLines;
    bool _storingReaderLines = false;
};

// Formats the file at `path` (created beforehand with its final size) as a new storage
// of the repository `repositoryID`, with the default options (pages of `pageSize`) and
// recorder type "FLAC". Errors go to the trace; the result says whether the storage was
// formatted and closed.
bool formatStorageFile(const std::string& path, const UniqueID& repositoryID,
                       uint32_t pageSize = TarsilFormat::DefaultPageSize);
