#pragma once

#include <atomic>
#include <memory>

#include "IRecorderPacketHandler.h"
#include "PlaybackServiceConfig.h"
#include "RecorderSim.h"
#include "recorder-sim/recording/SyntheticRecording.h"

// The simulated recorder's playback service: answers the playback requests of logged-in
// clients from one synthetic recording and streams its frames. Plug it into a RecorderSim
// with sim.addHandlerFactory(service.factory()) before start(); the service must outlive
// the simulator's connections (stop the simulator first).
//
// The recording is immutable and shared by every connection; each connection gets a
// handler of its own on the simulator's loop thread. The counters may be read from any
// thread.
class PlaybackService {
public:
    explicit PlaybackService(PlaybackServiceConfig config);

    RecorderSim::HandlerFactory factory();

    const PlaybackServiceConfig& config() const { return _config; }
    const SyntheticRecording& recording() const { return *_recording; }

    // Audio, video and text-in frames streamed so far, over every connection.
    long framesSent() const { return _framesSent.load(); }
    long stopReportsSent() const { return _stopReports.load(); }
    void countFrame() { ++_framesSent; }
    void countStopReport() { ++_stopReports; }

private:
    PlaybackServiceConfig _config;
    std::shared_ptr<const SyntheticRecording> _recording;
    std::atomic<long> _framesSent{0};
    std::atomic<long> _stopReports{0};
};
