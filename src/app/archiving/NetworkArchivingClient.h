#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/archiving/ArchivedFrame.h"
#include "app/archiving/ArchivedSecond.h"
#include "app/archiving/Archiver.h"
#include "app/archiving/LastVideoRecord.h"
#include "base/BitMask32.h"
#include "base/Interval.h"
#include "network/playback/IPlaybackClientListener.h"
#include "network/protocol/RemoteSystemInfo.h"

class ArchivingDelegate;
class NetworkPlaybackClient;
class Storage;

// Archives one interval of a recorder's recording at a time: lists the interval's sections
// and events, positions playback, plays, and hands every frame to its Archiver; reports to
// the schedule through ArchivingDelegate.
//
// Every recorded frame is archived once. A frame is named by what the recorder sends with
// it (ArchivedFrame), and the client remembers the last frame it archived together with the
// others of that second. Once a frame is known, every interval continues from it: playback
// is positioned at that frame's recorder-side position and plays from there in recording
// order, so chunk boundaries, retries at the end of the recording and sections recorded
// after the recorder's clock went back neither repeat nor reorder frames; a frame the
// client already archived is skipped. A playback of an interval ends at the first frame
// later than the interval's end (the recorder is asked to play on), because with the clock
// set back a later section holds earlier times; when the first frame to write already lies
// past the end (recording order jumps forward there), the interval's length is counted
// from that frame instead, so every playback makes progress. The interval's begin bounds the frames the
// recorder sends, so a caller that continues through such a section passes an interval
// reaching back to it (MergedTimeTable::overlapBegin).
//
// Threads: requests come from the schedule's actor thread; lists, playStarted, connects and
// disconnects arrive on the playback network thread; frames, stop reports and posted
// callbacks on a media dispatcher thread. The phase, the flags and the resume state are
// guarded by the state mutex, which is never held while calling the playback client, the
// archiver or the delegate.
class NetworkArchivingClient : public IPlaybackClientListener {
public:
    // Phases.
    static constexpr int Idle = 0;
    static constexpr int ListingFromFirst = 1;
    static constexpr int ListingFromBeginning = 2;
    static constexpr int ListingForResume = 3;
    static constexpr int WaitingForPlaybackStart = 4;
    static constexpr int Positioned = 5;
    static constexpr int Playing = 6;
    static constexpr int WriteFailed = 7;
    static constexpr int NoSpace = 8;

    // The end of every open interval.
    static DateTime endOfTime();

    NetworkArchivingClient();
    ~NetworkArchivingClient() override;
    NetworkArchivingClient(const NetworkArchivingClient&) = delete;
    NetworkArchivingClient& operator=(const NetworkArchivingClient&) = delete;

    // Creates the playback client with a media queue of `bufferSize` bytes (at least the
    // playback client's minimum) and binds the archiver to `storage` (a group or a storage).
    void attach(Storage* storage, int bufferSize, ArchivingDelegate* delegate);
    // Whether the login was requested; the outcome arrives as archivingConnected or
    // archivingDisconnected.
    bool connect(const std::string& host, uint16_t port, const std::string& user, const std::string& password);
    int lastConnectError() const;
    bool isConnected();
    void disconnect();

    void startFromFirst(const Interval& interval);
    void startFromBeginning(const Interval& interval);
    void resume(const Interval& interval, const LastVideoRecord& lastVideo);
    bool requestTimeTable(const Interval& interval);

    // Stores a valid record: `direct` on the calling thread, else on the media thread after
    // everything delivered so far.
    void flush(const LastVideoRecord& lastVideo, bool direct);
    // Rolls the storage back to the record on the media thread, then reports rolledBack.
    void postRollback(const LastVideoRecord& lastVideo);
    void setOverwrite(bool overwrite) { _archiver.setOverwrite(overwrite); }
    bool readLastVideo(LastVideoRecord& out) { return _archiver.readLastVideo(out); }
    // Forgets the frame archiving continues from: the next start finds its place by time.
    void forgetLastFrame();
    // Stops and deletes the playback client, closes the storage with a flush (false when
    // that failed) and forgets the delegate.
    bool cleanup();

    int phase() const { return _phase.load(); }
    Archiver& archiver() { return _archiver; }
    NetworkPlaybackClient* playbackClient() { return _client.get(); }
    BitMask32 channelMask() const { return _channels; }

    // ---- IPlaybackClientListener ---------------------------------------------------
    void recordingTimeTableReceived(int, const std::vector<RecordedSlice>& slices) override;
    void playbackRecordingSectionListReceived(int, BitMask32, const Interval&,
                                              const std::vector<uint32_t>& sections) override;
    void playbackEventListReceived(int, const EventListResponse& list) override;
    void playStarted(int, int mode) override;
    void videoFrameReceived(int, bool dependent, int, const MediaFrame& frame, const MediaPosition& position) override;
    void audioFrameReceived(int, const MediaFrame& frame, const MediaPosition& position) override;
    void textInFrameReceived(int, const TextInFrame& frame, const MediaPosition& position) override;
    void playbackStopped(int, int reason) override;
    void connected(int) override;
    void disconnected(int, int reason) override;
    void systemInfoReceived(int, const RemoteSystemInfo& info) override;
    void playbackCallback(int, int kind, int value) override;

private:
    static constexpr int FlushCallback = 0;
    static constexpr int RollbackCallback = 1;

    // What became of one delivered frame.
    enum class Verdict { Write, Skip, Positioning, EndOfInterval };

    void begin(int phase, const Interval& interval);
    void play();
    bool sendPlay(int type, uint32_t argument, uint32_t value);
    // Sends a request the recorder answers with a stop report, counting the report owed.
    template <typename Send>
    bool sendOwingReport(Send send);
    // Under the state mutex.
    Verdict judge(const ArchivedFrame& frame);
    void frameWritten(const ArchivedFrame& frame, bool keyFrame);
    // Writes or skips one frame: `admitted` (run under the state mutex) tells whether the
    // frame is wanted at all; `write` does the archiver's part.
    template <typename Admit, typename Write>
    void handleFrame(const ArchivedFrame& identity, bool keyFrame, const MediaFrame* media, Admit admitted,
                     Write write);
    bool holdsKeyGroup(const MediaFrame& frame);
    // Ends the current playback early, unless the recorder has ended it already.
    void stopPlayback();
    // Lists the events of `interval` and waits (bounded) until the list is complete.
    void fetchEvents(const Interval& interval);
    void postRecord(int kind, const LastVideoRecord& record);

    BitMask32 _channels{0xFFFFFFFFu};
    std::atomic<ArchivingDelegate*> _delegate{nullptr};
    std::unique_ptr<NetworkPlaybackClient> _client;
    Archiver _archiver;
    std::atomic<int> _phase{Idle};

    std::mutex _stateMutex;
    Interval _interval;
    bool _started = false;
    bool _waitForKey = false;
    bool _eventListBegun = false;
    bool _positionOverwritten = false;
    bool _endReached = false;  // the interval's end was passed; frames wait for the stop
    bool _wroteInPlayback = false;
    // Stop reports owed for requests sent (a play, a jump, a positioning each get one); a
    // report beyond them answers nothing of ours (the playback client reports a stop asked
    // for after the recorder had already ended the playback) and is ignored.
    int _reportsOwed = 0;
    // Events fetched while a playback waits: the frames to write lie past the interval the
    // events were listed for.
    std::optional<Interval> _eventsToFetch;
    bool _fetchingEvents = false;
    std::condition_variable _eventsFetched;  // a frame of the current playback was written
    DateTime _end;                  // the playback ends at the first frame after this
    MediaPosition _resumePosition;
    DateTime _resumeTime;
    // The last archived frame and those archived before it in its second, in order.
    std::optional<ArchivedFrame> _last;
    ArchivedSecond _lastSecond;
    // The key group last archived on each channel mask.
    std::map<uint32_t, uint32_t> _keyGroups;
    // Records of posted callbacks, by the number the callback carries.
    std::map<int, std::pair<int, LastVideoRecord>> _posted;
    int _nextPosted = 0;
    RemoteSystemInfo _systemInfo;
};
