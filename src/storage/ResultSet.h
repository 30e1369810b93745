#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "base/BitMask32.h"
#include "base/DateTime.h"
#include "base/Interval.h"
#include "storage/PagePosition.h"
#include "storage/TimelineElement.h"

class MediaElement;
class Page;
class Storage;
class TextInElement;
class Timeline;

// Reads the recording of one storage back in playing order. It walks the timeline with
// page objects of its own, keeps the elements whose channels intersect the requested
// ones, and jumps over stretches of timeline pages without those channels with the help
// of the recording table instead of loading every page. Every video frame it hands out
// can be decoded: a frame reached inside its key group comes with the frames of the
// group before it, the key frame first. Frame headers and payloads are then read from
// the media and text-in tracks into the result set's own pages; the payload is pointed
// at, never copied.
//
// Channel filtering goes by the channels of video: page flags and recording-table records
// only know video, so audio and text-in of a requested channel are met only where video
// of a requested channel is recorded too.
//
// Reading never writes and never throws for what the writer or an overwrite did in the
// meantime: a page given up, a position that no longer holds, a header that does not
// match make the operation answer false after logging, and the caller seeks again (by
// time, for example). A result set is positioned on an element (the cursor); `next`
// returns what follows it, `previous` what precedes it; after initToBegin the first
// element is still to come, after initToEnd the last.
//
// Threads: one reader thread per result set; it runs alongside the storage's writer and
// other readers and touches only its own page objects. The storage must stay open while
// the result set is bound.
class ResultSet {
public:
    using Elements = std::vector<TimelineElement>;

    ResultSet();
    virtual ~ResultSet();
    ResultSet(const ResultSet&) = delete;
    ResultSet& operator=(const ResultSet&) = delete;

    // Binds to `storage` at its timeline's first (last) element. False when the storage
    // has no timeline entry yet or its first (last) page cannot be read.
    virtual bool initToBegin(Storage* storage, bool keyFramesOnly);
    virtual bool initToEnd(Storage* storage, bool keyFramesOnly);
    virtual void close();

    // The first video frame of the channels inside `range` in recording section
    // `section`, with its key group; when the group cannot be completed, the first key
    // frame of the channels inside the range alone. The cursor ends on the frame.
    virtual bool seekToTime(uint32_t section, BitMask32 channels, const Interval& range, Elements& out,
                            PagePosition& position);
    // The last video frame of the channels at or before `time` in `section`, with its
    // key group.
    virtual bool seekBackToTime(uint32_t section, BitMask32 channels, const DateTime& time, Elements& out,
                                PagePosition& position);
    // The next (previous) element of the channels; a video frame that needs its key
    // group comes after it in `out` (frames that cannot be completed are passed over).
    // `position` is the timeline position of the last element in `out`.
    virtual bool next(BitMask32 channels, Elements& out, PagePosition& position);
    virtual bool nextElement(BitMask32 channels, TimelineElement& element, PagePosition& position);
    virtual bool previous(BitMask32 channels, Elements& out, PagePosition& position);
    virtual bool previousElement(BitMask32 channels, TimelineElement& element, PagePosition& position);
    // The pageTag of the timeline page the last element came from (0 in storages this
    // system writes).
    virtual uint32_t sectionTag() const { return _sectionTag; }

    // Puts the cursor on the timeline element at `position`; false when none is there.
    bool seek(const PagePosition& position);
    // Puts the cursor on the last video frame of the channels below media ID `id`, found
    // from the recording table's last record of the channels at or before `id`.
    bool seekToMediaID(uint64_t id, BitMask32 channels);

    // The header of the frame `element` names and its payload in one part, or in two
    // when it continues in the next media page (lengths adding up to dataSize()). The
    // parts point into this result set's pages and stay valid until the next readFrame
    // or close. False when the frame is gone or its header does not match the element.
    bool readFrame(const TimelineElement& element, MediaElement& header, const uint8_t* parts[2],
                   uint32_t lengths[2]);
    // The text-in element `element` names (or the stop element at its position).
    bool readTextIn(const TimelineElement& element, TextInElement& text);

    Storage* storage() const { return _storage; }
    bool isBound() const { return _storage != nullptr; }
    const PagePosition& cursor() const { return _cursor; }
    bool keyFramesOnly() const { return _keyFramesOnly; }

protected:
    // Which neighbour of the cursor's element the next read in a direction returns: the
    // element itself has not been returned yet in that direction.
    enum class Pending { None, Forward, Backward };

    // Binds to `storage` without positioning. False without a timeline.
    bool bind(Storage* storage, bool keyFramesOnly);
    // Puts the cursor on `position`; the element there is returned next in `pending`'s
    // direction.
    bool place(const PagePosition& position, Pending pending);
    // The cursor's element is no longer readable (its page was given up or reused).
    bool lostPosition();
    // Whether a video frame cannot be decoded from what this reader returned before.
    bool needsKey(const TimelineElement& element) const;
    // The frames of `element`'s key group before it, the key frame first (only the key
    // frame with keyFramesOnly), walked along the previous-entry chain.
    bool completeKeyGroup(const TimelineElement& element, Elements& group);
    void rememberKey(const TimelineElement& element) { _keys[element.channelMask().value()] = element.syncKeyID(); }
    void clearKeys() { _keys.clear(); }
    std::map<uint32_t, uint32_t>& keys() { return _keys; }
    // Steps one element without filtering, along the timeline's links.
    bool step(bool forward, TimelineElement& element);
    void log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    Timeline* timeline() const { return _timeline; }

private:
    bool readElement(bool forward, BitMask32 channels, TimelineElement& element, PagePosition& position);
    bool jumpForward(BitMask32 channels, TimelineElement& element);
    bool jumpBackward(BitMask32 channels, TimelineElement& element);
    bool pageHasChannels(BitMask32 channels);
    // The media ID the timeline begins with now; everything below it was given up.
    uint64_t firstTimelineID();
    // The record of `section` from which a reader finds the time `at`: the last one at or
    // before it, else the first one after it. False when the section has no records.
    bool recordFor(uint32_t section, const DateTime& at, PagePosition& position);
    Page* mediaPageHolding(uint32_t number);
    void unloadPages();
    // Unbinds; close() without what a derived reader adds to it.
    void release();

    Storage* _storage = nullptr;
    Timeline* _timeline = nullptr;
    uint32_t _sectionTag = 0;
    std::unique_ptr<Page> _page;      // the cursor's timeline page
    std::unique_ptr<Page> _walkPage;  // timeline pages visited while completing key groups
    std::unique_ptr<Page> _media[2];  // alternate as the current media page
    int _currentMedia = 0;
    std::unique_ptr<Page> _textPage;
    PagePosition _cursor;
    Pending _pending = Pending::None;
    // Set after a jump: the page landed on is walked whatever its flags say.
    bool _landed = false;
    std::map<uint32_t, uint32_t> _keys;  // channel mask -> key group being followed
    bool _keyFramesOnly = false;
};
