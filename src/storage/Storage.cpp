#include "storage/Storage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>

#include "base/Clock.h"
#include "base/File.h"
#include "base/IOException.h"
#include "base/SystemException.h"
#include "base/TarsilException.h"
#include "base/TextOf.h"
#include "base/Trace.h"
#include "storage/EventElement.h"
#include "storage/IStorageListener.h"
#include "storage/MediaElement.h"
#include "storage/BadTrack.h"
#include "storage/EventTrack.h"
#include "storage/MediaTrack.h"
#include "storage/OverwritePreparer.h"
#include "storage/PreEventTrack.h"
#include "storage/ResultSet.h"
#include "storage/StorageUtility.h"
#include "storage/TextInTrack.h"
#include "storage/Timeline.h"
#include "storage/TimelineElement.h"
#include "storage/StorageMigratorV3.h"
#include "storage/TarsilError.h"
#include "storage/TextInElement.h"
#include "storage/Track.h"
#include "storage/aio/AIOContext.h"
#include "storage/pager/IFreePageAllocator.h"
#include "storage/pager/Page.h"
#include "storage/pager/TarsilAbility.h"
#include "storage/pager/TarsilFormat.h"
#include "storage/transaction/ITransactionHandler.h"
#include "storage/transaction/PageFlushTransaction.h"
#include "storage/util/StorageChecker.h"
#include "storage/util/StorageCorrector.h"

namespace {

constexpr int InfoLevel = 2;

std::string formatted(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

std::string formatted(const char* fmt, ...) {
    char line[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    return line;
}

// The data tracks in the order the storage opens them.
const PageType* const OpenOrder[] = {&PageType::Timeline, &PageType::RecordingTable, &PageType::Media,
                                     &PageType::Event,    &PageType::PreEvent,       &PageType::TextIn,
                                     &PageType::Bad};

}  // namespace

Storage::Storage() {
    for (const PageType* type : OpenOrder) {
        _slots.push_back(Slot{*type, nullptr});
    }
}

Storage::~Storage() = default;

// ---- tracks -------------------------------------------------------------------------

std::unique_ptr<IOverwritePreparer> Storage::newOverwritePreparer() {
    return std::make_unique<OverwritePreparer>();
}

void Storage::installTrack(std::unique_ptr<Track> track) {
    for (Slot& entry : _slots) {
        if (entry.type.equals(track->type())) {
            entry.track = std::move(track);
            return;
        }
    }
    throw TarsilException(QF_HERE, 0, "no track slot for this page type");
}

Track* Storage::slot(const PageType& type) {
    for (Slot& entry : _slots) {
        if (entry.type.equals(type)) {
            return entry.track.get();
        }
    }
    return nullptr;
}

Track* Storage::track(const PageType& type) {
    if (type.equals(PageType::Log)) {
        return &_logTrack;
    }
    if (type.equals(PageType::Info)) {
        return &_infoTrack;
    }
    return slot(type);
}

std::vector<Track*> Storage::dataTracksInOpenOrder() {
    std::vector<Track*> out;
    for (Slot& entry : _slots) {
        if (entry.track) {
            out.push_back(entry.track.get());
        }
    }
    return out;
}

void Storage::openTracks() {
    bool write = !isReadOnly();
    for (const PageType* type : {&PageType::Timeline, &PageType::RecordingTable, &PageType::Media,
                                 &PageType::Event, &PageType::PreEvent}) {
        if (Track* t = slot(*type)) {
            TrackListItem item;
            t->init(this, write, findTrack(*type, item) ? item.lastPage() : 0);
        }
    }
    TrackListItem info;
    _infoTrack.init(this, write, findTrack(PageType::Info, info) ? info.lastPage() : 0);
    for (const PageType* type : {&PageType::TextIn, &PageType::Bad}) {
        if (Track* t = slot(*type)) {
            TrackListItem item;
            t->init(this, write, findTrack(*type, item) ? item.lastPage() : 0);
        }
    }
    if (_superBlock.freePageNumber() != 0) {
        notifySpaceChanged();
    }
}

bool Storage::closeTracks(bool flush) {
    bool ok = true;
    for (Track* t : dataTracksInOpenOrder()) {
        ok = t->close(flush) && ok;
    }
    ok = _infoTrack.close(flush) && ok;
    ok = _logTrack.close(flush) && ok;
    return ok;
}

// ---- lifecycle ----------------------------------------------------------------------

void Storage::closeHandles() {
    if (_writeHandle != -1 && _writeHandle != _readHandle) {
        File::close(_writeHandle);
    }
    if (_readHandle != -1) {
        File::close(_readHandle);
    }
    _readHandle = -1;
    _writeHandle = -1;
}

void Storage::shutDownAfterFailure() {
    _broken = true;
    try {
        closeTracks(false);
    } catch (const Exception&) {
        // Closing without flushing only releases memory.
    }
    freePageAllocator()->reset();
    transactionHandler()->reset();
    _pendingJoins.clear();
    _pageCache.clear();
    _superBlock.clear();
    _clock.clear();
}

bool Storage::open(const char* path) {
    close(true);
    _path = path;
    try {
        _writeHandle = _forceReadOnly ? -1 : openHandle(path, false);
    } catch (const SystemException&) {
        _writeHandle = -1;
    }
    _readHandle = openHandle(path, true);
    if (_readHandle == -1) {
        closeHandles();
        return false;
    }
    try {
        _superBlock.load(_readHandle, isReadOnly() ? _readHandle : _writeHandle, superBlockOffset(),
                         ioMinBlockSize());
        uint64_t needed =
            uint64_t(_superBlock.firstPageOffset()) + uint64_t(_superBlock.pageCount()) * pageSize();
        if (!_superBlock.isValid() || _superBlock.firstPageOffset() < TarsilFormat::SuperBlockSize ||
            _superBlock.pageCount() == 0 || superBlockOffset() + needed > fileSize()) {
            // Not a storage, or one that claims more pages than the file holds.
            _superBlock.clear();
            return false;
        }
        reloadTrackRegistry();
        _pageCache.bind(_superBlock, this);
        freePageAllocator()->init(_superBlock, _pageCache, !isReadOnly());
        transactionHandler()->init(*this);
        // Until the journal is replayed, log lines wait: writing one may need a page,
        // and the free list and track list are only settled after the replay.
        holdLog(true);
        try {
            log(formatted("[OPEN] %s time_stamp_basis = %u", path, _superBlock.timeStampBasis()).c_str(),
                InfoLevel, false);
            if (!isReadOnly()) {
                migrate();
            }
            _broken = !checkOnOpen();
        } catch (...) {
            _heldLines.clear();
            holdLog(false);
            throw;
        }
        holdLog(false);
        if (_broken) {
            log("[OPEN FAIL] corrupted", 0, true);
            try {
                joinPendingPages();
            } catch (const Exception& e) {
                QF_TRACE("Storage::open: log page lost: %s", e.describe().c_str());
            }
            closeTracks(false);
            _superBlock.clear();
            return false;
        }
        // What the correction and the held log lines wrote joins its tracks before the
        // storage is used.
        joinPendingPages();
        _nextItemID = correctedNextItemID();
        openTracks();
    } catch (...) {
        shutDownAfterFailure();
        closeHandles();
        throw;
    }
    _clock.clear();
    _broken = false;
    updateTimeStamp();
    return true;
}

bool Storage::checkOnOpen() {
    _openFindings.clear();
    if (isReadOnly()) {
        StorageChecker checker(*this);
        bool ok = checker.check();
        for (const StorageChecker::Finding& finding : checker.findings()) {
            _openFindings.push_back(finding.text);
        }
        return ok;
    }
    StorageCorrector corrector(*this);
    bool ok = corrector.run(true);
    _correctedNextID = ok ? corrector.nextMediaID() : 0;
    return ok;
}

uint64_t Storage::correctedNextItemID() {
    // Past every ID a track holds, so no ID is given twice.
    uint64_t next = std::max<uint64_t>(std::max(_superBlock.nextItemID(), _correctedNextID), 1);
    StorageUtility utility(*this);
    for (const PageType* type : {&PageType::Timeline, &PageType::Media, &PageType::TextIn, &PageType::PreEvent}) {
        TrackListItem item;
        if (!findTrack(*type, item)) {
            continue;
        }
        Page page(_superBlock, _pageCache);
        page.loadHeader(item.lastPage(), true);
        uint64_t last = page.lastItemID();
        if (page.isEmpty() && page.previous() != 0) {
            page.loadHeader(page.previous(), true);
            last = page.lastItemID();
        }
        next = std::max(next, last + 1);
    }
    return next;
}

void Storage::migrate() {
    StorageMigratorV3 v3;
    StorageMigrator* chain[] = {&v3};
    for (StorageMigrator* migrator : chain) {
        if (migrator->targetVersion() <= _superBlock.version()) {
            continue;
        }
        if (!migrator->migrate(*this)) {
            break;
        }
        log(formatted("[MIGRATE] to ver.%u", migrator->targetVersion()).c_str(), InfoLevel, true);
    }
}

bool Storage::close(bool flush) {
    if (_readHandle == -1) {
        return true;
    }
    bool ok = true;
    flush = flush && _superBlock.isValid() && !isReadOnly() && !transactionHandler()->hasFailed();
    try {
        log(formatted("[%s, CLOSE] flush = %s", _path.c_str(), flush ? "true" : "false").c_str(), InfoLevel,
            flush);
        if (flush) {
            flushAll();
        }
    } catch (const Exception& e) {
        QF_TRACE("Storage::close: %s", e.describe().c_str());
        flush = false;
        ok = false;
    }
    freePageAllocator()->reset();
    transactionHandler()->reset();
    _pendingJoins.clear();
    try {
        ok = closeTracks(flush) && ok;
    } catch (const Exception&) {
        ok = false;
    }
    _pageCache.clear();
    _superBlock.clear();
    _clock.clear();
    _broken = true;
    int readHandle = _readHandle;
    int writeHandle = _writeHandle;
    _readHandle = _writeHandle = -1;
    if (writeHandle != -1 && writeHandle != readHandle) {
        ok = File::close(writeHandle) && ok;
    }
    ok = File::close(readHandle) && ok;
    return ok;
}

void Storage::format(const FormatOptions& options) {
    notifyChangeBegun();
    try {
        if (_readHandle == -1 || isReadOnly()) {
            QF_THROW_TARSIL(TarsilError::InvalidStorage);
        }
        closeTracks(false);
        freePageAllocator()->reset();
        transactionHandler()->reset();
        _pendingJoins.clear();
        _pageCache.clear();
        uint64_t nextID = 1;
        bool wasValid = _superBlock.isValid();
        uint64_t counter = _nextItemID;
        _superBlock.load(_readHandle, _writeHandle, superBlockOffset(), ioMinBlockSize());
        if (wasValid || _superBlock.isValid()) {
            // Item numbers keep rising across a re-format.
            nextID = std::max<uint64_t>(counter, _superBlock.isValid() ? _superBlock.nextItemID() : 1);
            _nextItemID = nextID + 1;
        }
        uint64_t size = fileSize();
        uint32_t page = options.pageSize;
        if (page == 0 || page % 4096 != 0 || page > TarsilFormat::MaxPageSize ||
            size < TarsilFormat::FormatReserve || (size - TarsilFormat::FormatReserve) / page < 3 ||
            (size - TarsilFormat::FormatReserve) / page > 0xFFFFFFFFull) {
            QF_THROW_TARSIL(TarsilError::InvalidStorage);
        }
        uint32_t count = static_cast<uint32_t>((size - TarsilFormat::FormatReserve) / page);
        _superBlock.format(options, count, nextID);
        _timeStampBasis = _superBlock.timeStampBasis();
        _clock.clear();
        _pageCache.bind(_superBlock, this);
        freePageAllocator()->format(_superBlock, _pageCache);
        transactionHandler()->init(*this);
        reloadTrackRegistry();
        // Durability comes with the first log line below: its page joins the log track
        // through a journaled batch, whose barrier covers these writes too.
        _superBlock.save();
        _broken = false;
        _logTrack.close(false);
        char repository[64];
        std::snprintf(repository, sizeof repository, "%s", textOf(options.repositoryID).c_str());
        log(formatted("[FORMAT-%s] id: %s, page_size: %u, desc: %s", textOf(options.recorderType).c_str(),
                      repository, page, _superBlock.description())
                .c_str(),
            InfoLevel, true);
        if (!options.info.empty()) {
            _infoTrack.close(false);
            _infoTrack.init(this, true, 0);
            for (const auto& entry : options.info) {
                setInfo(entry.first, entry.second, false);
            }
            _infoTrack.flush();
        }
        joinPendingPages();
        closeTracks(false);
        openTracks();
        _clock.clear();
        _broken = false;
        updateTimeStamp();
        barrier();  // the format is complete on disk before it is reported done
        transactionHandler()->emptyJournalIfSettled();
    } catch (...) {
        _broken = true;
        try {
            closeTracks(false);
        } catch (const Exception&) {
        }
        freePageAllocator()->reset();
        transactionHandler()->reset();
        _pendingJoins.clear();
        _pageCache.clear();
        _superBlock.clear();
        notifyChangeFinished();
        throw;
    }
    notifyChangeFinished();
}

void Storage::setRepositoryID(const UniqueID& id) {
    _superBlock.setRepositoryID(id);
}

void Storage::setRecorderType(const RecorderType& type) {
    _superBlock.setRecorderType(type);
}

uint32_t Storage::freePageCount() {
    return freePageAllocator()->freePageCount();
}

// ---- time stamp ---------------------------------------------------------------------

void Storage::updateTimeStamp() {
    if (!_superBlock.isAbleTo(TarsilAbility::TimeStamp)) {
        return;
    }
    DateTime now = Clock::current().nowUtc();
    uint32_t basis = _superBlock.timeStampBasis();
    const DateTime& stored = _superBlock.timeStampTime();
    if (stored.isValid() && stored.lessThan(now)) {
        int difference = now.secondsSince(stored);
        basis += static_cast<uint32_t>(difference);
        log(formatted("[OPEN] diff_time_stamp = %d", difference).c_str(), InfoLevel, false);
    } else {
        log(("[OPEN] boot_time (" + textOf(stored) + ") >= current_time (" + textOf(now) + ")").c_str(),
            InfoLevel, false);
    }
    if (!isReadOnly()) {
        _superBlock.setTimeStamp(now, basis);
    }
    _timeStampBasis = basis;
    _clock.start(basis, now);
}

void Storage::checkTimeChange() {
    if (!_clock.isActive()) {
        return;
    }
    bool changed = _clock.tick();
    _timeStampBasis = _clock.basis();
    if (changed && !isReadOnly()) {
        _superBlock.setTimeStamp(_clock.lastTime(), _timeStampBasis);
        _superBlock.saveHeader();
        log(("[TIME CHANGE] " + textOf(_clock.lastTime())).c_str(), InfoLevel, false);
    }
}

void Storage::setTimeStampBasis(uint32_t basis) {
    _timeStampBasis = basis;
    _clock.rebase(basis);
    if (!isReadOnly()) {
        _superBlock.setTimeStamp(_clock.lastTime(), basis);
    }
}

// ---- log and info -------------------------------------------------------------------

void Storage::holdLog(bool hold) {
    if (hold) {
        ++_logHold;
        return;
    }
    if (_logHold > 0 && --_logHold > 0) {
        return;
    }
    while (!_heldLines.empty()) {
        HeldLine line = std::move(_heldLines.front());
        _heldLines.pop_front();
        try {
            writeLog(line.text.c_str(), line.level, line.flush);
        } catch (const Exception& e) {
            // A line that cannot be stored must not hide what the caller is reporting.
            QF_TRACE("Storage: log line lost: %s", e.describe().c_str());
        }
    }
}

void Storage::log(const char* text, int level, bool flush) {
    if (_logHold > 0) {
        _heldLines.push_back(HeldLine{text, level, flush});
        QF_TRACE("<TARSIL LOG: %s>", text);
        return;
    }
    writeLog(text, level, flush);
}

void Storage::logFromReader(const char* text) {
    QF_TRACE("<TARSIL LOG: %s>", text);
    std::lock_guard<Mutex> lock(_readerLogMutex);
    if (_readerLines.size() >= 256) {
        _readerLines.pop_front();
    }
    _readerLines.emplace_back(text);
}

void Storage::storeReaderLines() {
    if (_storingReaderLines) {
        return;
    }
    std::deque<std::string> lines;
    {
        std::lock_guard<Mutex> lock(_readerLogMutex);
        lines.swap(_readerLines);
    }
    _storingReaderLines = true;
    for (const std::string& line : lines) {
        writeLog(line.c_str(), 1, false);
    }
    _storingReaderLines = false;
}

void Storage::writeLog(const char* text, int level, bool flush) {
    storeReaderLines();
    if (!isReadOnly() && _logEnabled && _superBlock.isValid() && _superBlock.isAbleTo(TarsilAbility::Log) &&
        !transactionHandler()->hasFailed()) {
        if (!_logTrack.isOpen()) {
            TrackListItem item;
            _logTrack.init(this, true, findTrack(PageType::Log, item) ? item.lastPage() : 0);
        }
        if (hasTrack(PageType::Log) || freePageCount() > 0) {
            _logTrack.log(level, text);
            if (flush) {
                _logTrack.flush();
            }
        } else {
            QF_TRACE("CAN'T LOG: there is no log page and no free page also.");
        }
    }
    QF_TRACE("<TARSIL LOG: %s>", text);
}

bool Storage::setInfo(const std::string& key, const std::string& value, bool flush) {
    if (!hasTrack(PageType::Info) && freePageCount() == 0) {
        QF_TRACE("CAN'T WRITE INFO: there is no page to write.");
        return false;
    }
    if (isReadOnly()) {
        return false;
    }
    _infoTrack.set(key, value);
    if (flush) {
        _infoTrack.flush();
    }
    return true;
}

bool Storage::info(const std::string& key, std::string& value) {
    return _infoTrack.get(key, value);
}

void Storage::infoAll(std::map<std::string, std::string>& out) {
    _infoTrack.getAll(out);
}

// ---- listeners ----------------------------------------------------------------------

void Storage::addListener(IStorageListener* listener) {
    std::lock_guard<Mutex> lock(_listenerMutex);
    if (std::find(_listeners.begin(), _listeners.end(), listener) == _listeners.end()) {
        _listeners.push_back(listener);
    }
}

void Storage::removeListener(IStorageListener* listener) {
    std::lock_guard<Mutex> lock(_listenerMutex);
    _listeners.erase(std::remove(_listeners.begin(), _listeners.end(), listener), _listeners.end());
}

void Storage::beforeWrite(Page& page, bool headerOnly) {
    for (IStorageListener* listener : _listeners) {
        listener->beforePageWrite(*this, page, headerOnly);
    }
}

void Storage::afterWrite(Page& page, bool headerOnly) {
    for (IStorageListener* listener : _listeners) {
        listener->afterPageWrite(*this, page, headerOnly);
    }
}

void Storage::notifySpaceChanged() {
    uint32_t free = freePageCount();
    for (IStorageListener* listener : _listeners) {
        listener->spaceChanged(*this, free, pageCount());
    }
}

void Storage::notifyChangeBegun() {
    for (IStorageListener* listener : _listeners) {
        listener->changeBegun(*this);
    }
}

void Storage::notifyChangeFinished() {
    for (IStorageListener* listener : _listeners) {
        listener->changeFinished(*this);
    }
}

void Storage::notifySectionChanged(uint32_t sectionID) {
    for (IStorageListener* listener : _listeners) {
        listener->recordingSectionChanged(*this, sectionID);
    }
}

// ---- track registry -----------------------------------------------------------------

bool Storage::findTrack(const PageType& type, TrackListItem& out) {
    std::lock_guard<Mutex> lock(_registryMutex);
    for (const TrackListItem& item : _registry) {
        if (item.type().equals(type)) {
            out = item;
            return true;
        }
    }
    return false;
}

bool Storage::hasTrack(const PageType& type) {
    TrackListItem item;
    return findTrack(type, item);
}

std::vector<TrackListItem> Storage::tracks() {
    std::lock_guard<Mutex> lock(_registryMutex);
    return _registry;
}

void Storage::registerPage(Page& page) {
    PageType type = page.type();
    std::lock_guard<Mutex> lock(_registryMutex);
    for (TrackListItem& item : _registry) {
        if (item.type().equals(type)) {
            item.setLast(page.pageNumber(), page.checksum());
            return;
        }
    }
    _registry.emplace_back(type, BitMask32(0xFFFFFFFF), page.pageNumber(), page.checksum());
}

void Storage::updateTrackFirst(const PageType& type, uint32_t page, uint32_t checksum) {
    QF_TRACE("Storage::updateTrackFirst : %d in %s", static_cast<int>(page), textOf(type).c_str());
    std::lock_guard<Mutex> lock(_registryMutex);
    for (TrackListItem& item : _registry) {
        if (item.type().equals(type)) {
            item.setFirst(page, checksum);
            return;
        }
    }
}

void Storage::updateTrackLast(const PageType& type, uint32_t page, uint32_t checksum) {
    std::lock_guard<Mutex> lock(_registryMutex);
    for (TrackListItem& item : _registry) {
        if (item.type().equals(type)) {
            item.setLast(page, checksum);
            return;
        }
    }
    _registry.emplace_back(type, BitMask32(0xFFFFFFFF), page, checksum);
}

void Storage::forgetTrack(const PageType& type) {
    {
        std::lock_guard<Mutex> lock(_registryMutex);
        _registry.erase(std::remove_if(_registry.begin(), _registry.end(),
                                       [&](const TrackListItem& item) { return item.type().equals(type); }),
                        _registry.end());
    }
    for (IStorageListener* listener : _listeners) {
        listener->trackRemoved(*this, type);
    }
}

void Storage::reloadTrackRegistry() {
    std::vector<TrackListItem> items;
    uint32_t count = _superBlock.trackCount();
    for (uint32_t i = 0; i < count; ++i) {
        TrackListItem item;
        if (_superBlock.trackAt(i, item)) {
            items.push_back(item);
        }
    }
    std::lock_guard<Mutex> lock(_registryMutex);
    _registry = std::move(items);
}

// ---- pages and space ----------------------------------------------------------------

void Storage::barrier() {
    if (!isReadOnly()) {
        AIOContext::instance().barrier(_writeHandle);
    }
}

void Storage::refuseWritesAfterFailure() {
    if (transactionHandler()->hasFailed()) {
        throw IOException(QF_HERE, EIO, _writeHandle, 0, 0);
    }
}

uint32_t Storage::findNextWritablePageNumber(const PageType& type) {
    (void)type;  // every track draws from the one free list
    if (freePageCount() == 0) {
        uint32_t before = freePageCount();
        QF_TRACE("Storage::findNextWritablePageNumber : freePageCount = %d", static_cast<int>(before));
        overwriteOldest();
        QF_TRACE("                                    : after removed = %d",
                 static_cast<int>(freePageCount()));
    }
    uint32_t page = freePageAllocator()->takeFirst();
    notifySpaceChanged();
    return page;
}

void Storage::overwriteOldest() {
    uint32_t t0 = Clock::current().tickCount();
    uint32_t before = freePageCount();
    TrackListItem timeline;
    Track* timelineTrack = slot(PageType::Timeline);
    uint64_t firstID = 0;
    if (timelineTrack != nullptr && findTrack(PageType::Timeline, timeline) &&
        timeline.firstPage() != timeline.lastPage() && timelineTrack->dropFirstPage(firstID)) {
        overwriteBefore(firstID);
    } else {
        removeAllItems();
    }
    freePageAllocator()->compact();
    QF_TRACE("OVERWRITE: %u pages removed (%u msec)", freePageCount() - before,
             Clock::current().tickCount() - t0);
}

void Storage::overwriteBefore(uint64_t itemID) {
    for (const PageType* type : {&PageType::Media, &PageType::PreEvent, &PageType::RecordingTable,
                                 &PageType::Event, &PageType::TextIn}) {
        if (Track* t = slot(*type)) {
            t->overwrite(itemID);
        }
    }
}

void Storage::removeAllItems() {
    for (const PageType* type : {&PageType::Timeline, &PageType::RecordingTable, &PageType::Media,
                                 &PageType::PreEvent, &PageType::Event, &PageType::TextIn}) {
        if (Track* t = slot(*type)) {
            t->removeAll();
        }
    }
}

bool Storage::handleBadPage(Page& page, bool wasNew) {
    (void)page;
    (void)wasNew;
    return false;
}

void Storage::flushPage(Page& page) {
    refuseWritesAfterFailure();
    if (_clock.isActive()) {
        _superBlock.setTimeStamp(_clock.lastTime(), _timeStampBasis);
    }
    PageType type = page.type();
    if (type.equals(PageType::Timeline)) {
        // The entries of a full timeline page name media that must be on disk first.
        if (Track* t = slot(PageType::Media)) {
            t->flush();
        }
        if (Track* t = slot(PageType::RecordingTable)) {
            t->flush();
        }
        if (Track* t = slot(PageType::PreEvent)) {
            t->timelinePageFlushed(page.lastItemID());
        }
        if (Track* t = slot(PageType::TextIn)) {
            t->flush();
        }
        QF_TRACE(" PATH : %s", _path.c_str());
    } else if (type.equals(PageType::PreEvent)) {
        try {
            joinPendingPages();
            transactionHandler()->beforeUnjournaledWrite(page.pageNumber());
            page.syncSaveDirty();
        } catch (const SystemException&) {
            if (!handleBadPage(page, false)) {
                throw;
            }
        }
        return;
    }
    if (freePageAllocator()->isListed(page.pageNumber())) {
        try {
            // No track on disk names the page yet, so it goes down whole with no barrier of
            // its own; it joins its track with the next batch, whose journal barrier covers it.
            page.saveUnordered();
            queueJoin(page);
        } catch (const SystemException&) {
            if (!handleBadPage(page, true)) {
                throw;
            }
        }
        return;
    }
    try {
        // The page may name items of pages that wait to join their tracks (timeline entries
        // name media): they join first, and are durable before the page's new header. Its
        // new data goes down before all that, so one barrier covers both.
        page.saveDataBlocks();
        joinPendingPages();
        transactionHandler()->beforeUnjournaledWrite(page.pageNumber());
        page.syncSaveDirty();
    } catch (const SystemException&) {
        if (!handleBadPage(page, false)) {
            throw;
        }
    }
}

void Storage::flush() {
    if (isReadOnly() || !_superBlock.isValid()) {
        return;
    }
    refuseWritesAfterFailure();
    storeReaderLines();
    for (const PageType* type : {&PageType::Media, &PageType::Timeline, &PageType::RecordingTable,
                                 &PageType::PreEvent, &PageType::Event, &PageType::TextIn}) {
        if (Track* t = slot(*type)) {
            t->flush();
        }
    }
    joinPendingPages();
    // The information values (the archive's resume point among them) describe the items just
    // flushed, so they go last. Crash guard: without this barrier a power cut could keep an
    // information page naming frames whose pages never joined their tracks, and a resume
    // would continue after frames the archive does not hold.
    barrier();
    _infoTrack.flush();
    joinPendingPages();
    if (_clock.isActive()) {
        _superBlock.setTimeStamp(_clock.lastTime(), _timeStampBasis);
    }
    _superBlock.saveHeader();
    // Crash guard: what a flush wrote (the resume point stored after it among others)
    // survives a power cut once flush returns.
    barrier();
    transactionHandler()->emptyJournalIfSettled();
}

void Storage::flushInfo() {
    if (isReadOnly() || !_superBlock.isValid()) {
        return;
    }
    refuseWritesAfterFailure();
    _infoTrack.flush();
    joinPendingPages();
    // Crash guard: without this barrier a power cut could keep pages written after this
    // call (the frame the values name) and lose the values themselves.
    barrier();
}

void Storage::queueJoin(Page& page) {
    uint32_t number = page.pageNumber();
    bool queued = std::any_of(_pendingJoins.begin(), _pendingJoins.end(),
                              [number](const PageJoinTransaction::Join& join) { return join.page == number; });
    if (!queued) {
        _pendingJoins.push_back({page.type(), number, page.checksum()});
    }
    if (_pendingJoins.size() >= joinBatchSize()) {
        joinPendingPages();
    }
}

uint32_t Storage::joinBatchSize() {
    // About 8 MiB of pages per journal, at most 16 (so that a batch's records and the
    // previous batch's they carry fit the journal header's sector).
    constexpr uint32_t BatchBytes = 8u << 20;
    constexpr uint32_t MaxPages = 16;
    uint32_t pages = BatchBytes / std::max<uint32_t>(_superBlock.pageSize(), 1);
    return std::clamp<uint32_t>(pages, 1, MaxPages);
}

void Storage::joinPendingPages() {
    if (_pendingJoins.empty() || isReadOnly()) {
        return;
    }
    std::vector<PageJoinTransaction::Join> joins;
    joins.swap(_pendingJoins);
    PageJoinTransaction(*this, joins).commit();
}

void Storage::flushAll() {
    if (Track* t = slot(PageType::RecordingTable)) {
        t->beforeFullFlush();
    }
    flush();
    checkTimeChange();
}

namespace {

// Only video feeds the recording table.
bool feedsRecordingTable(const IRecordable& item) {
    const auto* linked = dynamic_cast<const TimelineLinkedElement*>(&item);
    return linked == nullptr || linked->mediaType() == TimelineLinkedElement::Video;
}

}  // namespace

uint32_t Storage::pagesNeededFor(const PageType& type, const IRecordable& item, bool updatesRecordingTable) {
    Track* track = slot(type);
    uint32_t needed = track != nullptr ? track->pagesNeededFor(item) : 1;
    Track* entries = slot(PageType::Timeline);
    if (entries != nullptr && entries != track && entries->freeBytes() < TimelineElement::RecordSize) {
        ++needed;
    }
    // A timeline entry can write up to three records (pending, stop, a new section's).
    Track* table = slot(PageType::RecordingTable);
    if (updatesRecordingTable && table != nullptr && table->freeBytes() < 3u * RecordingTableElement::RecordSize &&
        feedsRecordingTable(item)) {
        ++needed;
    }
    return needed;
}

bool Storage::hasEnoughSpace(const IRecordable& item) {
    return hasEnoughSpace(PageType::Media, item, true);
}

bool Storage::hasEnoughSpace(const PageType& type, const IRecordable& item, bool updatesRecordingTable) {
    return freePageCount() >= pagesNeededFor(type, item, updatesRecordingTable);
}

// ---- items --------------------------------------------------------------------------

namespace {

Track& required(Track* track) {
    if (track == nullptr) {
        // The storage has no track of this kind installed: nothing can be written.
        throw TarsilException(QF_HERE, 0, "Unknown exception");
    }
    return *track;
}

}  // namespace

void Storage::makeRoomFor(Track& track, const IRecordable& item) {
    if (isReadOnly() || !_superBlock.isValid()) {
        return;
    }
    if (!track.canStore(item)) {
        throw TarsilException(QF_HERE, TarsilError::NotEnoughSpace,
                              "Not enough space: the element is larger than a page can continue into");
    }
    auto needed = [&]() { return pagesNeededFor(track.type(), item, true); };
    for (uint32_t rounds = 0; freePageCount() < needed() && rounds <= pageCount(); ++rounds) {
        uint32_t before = freePageCount();
        overwriteOldest();
        if (freePageCount() <= before) {
            break;  // nothing left to give up; the write takes what there is
        }
    }
}

PagePosition Storage::writeMedia(MediaElement& item) {
    Track& t = required(slot(PageType::Media));
    makeRoomFor(t, item);
    item.setMediaID(_nextItemID++);
    return t.write(item);
}

PagePosition Storage::writePreEvent(MediaElement& item) {
    Track& t = required(slot(PageType::PreEvent));
    makeRoomFor(t, item);
    item.setMediaID(_nextItemID++);
    return t.write(item);
}

PagePosition Storage::writeTextIn(TextInElement& item) {
    Track& t = required(slot(PageType::TextIn));
    makeRoomFor(t, item);
    item.setMediaID(_nextItemID++);
    item.setSectionID(currentSectionID());
    if (TextInTrack* texts = textInTrack()) {
        return texts->writeTextIn(item);
    }
    return t.write(item);
}

PagePosition Storage::writeTimeline(const TimelineLinkedElement& item, const PagePosition& elementPosition,
                                    bool updateRecordingTable) {
    Timeline* entries = timeline();
    if (entries == nullptr) {
        // A plain track of timeline type (tests): the item itself is appended.
        TimelineLinkedElement& element = const_cast<TimelineLinkedElement&>(item);
        PagePosition position = required(slot(PageType::Timeline)).write(element);
        checkTimeChange();
        return position;
    }
    TimelineElement entry;
    PagePosition position = entries->write(item, elementPosition, entry);
    if (position.isSet() && updateRecordingTable && entry.mediaType() == TimelineLinkedElement::Video) {
        if (RecordingTable* table = recordingTable()) {
            table->update(entry, position);
        }
    }
    checkTimeChange();
    return position;
}

PagePosition Storage::writeTimelineAuto(const TimelineLinkedElement& item, const PagePosition& elementPosition) {
    return writeTimeline(item, elementPosition, item.mediaType() == TimelineLinkedElement::Video);
}

PagePosition Storage::writeEvent(EventElement& item, bool flush) {
    Track& t = required(slot(PageType::Event));
    item.setSectionID(currentSectionID());
    PagePosition position = t.write(item);
    if (flush) {
        t.flush();
    }
    return position;
}

uint32_t Storage::currentSectionID() {
    RecordingTable* table = recordingTable();
    return table != nullptr ? table->currentSectionID() : 0;
}

void Storage::setRecordingSectionID(uint32_t sectionID) {
    if (RecordingTable* table = recordingTable()) {
        table->startSection(sectionID);
    }
}

std::unique_ptr<ResultSet> Storage::createResultSet() {
    return std::make_unique<ResultSet>();
}

uint32_t Storage::firstSectionID() {
    RecordingTable* table = recordingTable();
    return table != nullptr && isValid() ? table->firstSectionID() : 0;
}

bool Storage::lastTimelineItemID(uint64_t& out) {
    TimelineElement entry;
    if (!isValid() || !StorageUtility(*this).lastItem(PageType::Timeline, entry)) {
        return false;
    }
    out = entry.mediaID();
    return true;
}

Interval Storage::recordingInterval() {
    RecordingTable* table = recordingTable();
    return table != nullptr && isValid() ? table->recordingInterval() : Interval();
}

void Storage::recordingDates(std::map<Date, RecordingTable::DateIDs>& out) {
    if (RecordingTable* table = recordingTable(); table != nullptr && isValid()) {
        table->recordingDates(out);
    }
}

std::vector<RecordingSection> Storage::recordingSections() {
    RecordingTable* table = recordingTable();
    return table != nullptr && isValid() ? table->sections() : std::vector<RecordingSection>();
}

void Storage::sectionRecords(uint32_t sectionID, const Interval& interval, std::vector<RecordingTableElement>& out) {
    if (RecordingTable* table = recordingTable(); table != nullptr && isValid()) {
        table->sectionRecords(sectionID, interval, out);
    }
}

void Storage::recordingTimeTable(BitMask32 channels, const Interval& interval,
                                 std::vector<RecordingTable::TimeSlice>& out) {
    if (RecordingTable* table = recordingTable(); table != nullptr && isValid()) {
        table->recordingTimeTable(channels, interval, out);
    }
}

void Storage::eventCalendarDates(std::set<Date>& out) {
    if (EventTrack* events = eventTrack(); events != nullptr && isValid()) {
        events->calendarDates(out);
    }
}

void Storage::events(const EventQuery& query, uint32_t section, std::vector<EventElement>& out, int direction,
                     bool& limitReached) {
    limitReached = false;
    if (EventTrack* events = eventTrack(); events != nullptr && isValid()) {
        events->elements(query, section, out, direction, limitReached);
    }
}

void Storage::events(const EventQuery& query, uint32_t section, std::vector<EventElement>& out, int direction) {
    bool limitReached = false;
    events(query, section, out, direction, limitReached);
}

void Storage::textInCalendarDates(std::set<Date>& out) {
    if (TextInTrack* texts = textInTrack(); texts != nullptr && isValid()) {
        texts->calendarDates(out);
    }
}

void Storage::textIns(const Interval& interval, std::vector<TextInElement>& out, int maxCount) {
    if (TextInTrack* texts = textInTrack(); texts != nullptr && isValid()) {
        texts->elements(interval, out, maxCount);
    }
}

Timeline* Storage::timeline() {
    return dynamic_cast<Timeline*>(slot(PageType::Timeline));
}

RecordingTable* Storage::recordingTable() {
    return dynamic_cast<RecordingTable*>(slot(PageType::RecordingTable));
}

MediaTrack* Storage::mediaTrack() {
    return dynamic_cast<MediaTrack*>(slot(PageType::Media));
}

PreEventTrack* Storage::preEventTrack() {
    return dynamic_cast<PreEventTrack*>(slot(PageType::PreEvent));
}

EventTrack* Storage::eventTrack() {
    return dynamic_cast<EventTrack*>(slot(PageType::Event));
}

TextInTrack* Storage::textInTrack() {
    return dynamic_cast<TextInTrack*>(slot(PageType::TextIn));
}

BadTrack* Storage::badTrack() {
    return dynamic_cast<BadTrack*>(slot(PageType::Bad));
}

void Storage::raiseNextItemID(uint64_t id) {
    if (_nextItemID < id) {
        _nextItemID = id;
    }
}

void Storage::recordingSectionChanged(uint32_t sectionID) {
    log(formatted("Storage::recordingSectionChanged(): %u", sectionID).c_str(), InfoLevel, true);
    if (Track* t = slot(PageType::Media)) {
        t->flush();
    }
    if (Track* t = slot(PageType::Timeline)) {
        t->flush();
    }
    notifySectionChanged(sectionID);
}

void Storage::rollbackTo(uint32_t sectionID, uint64_t itemID) {
    (void)sectionID;
    (void)itemID;
}
