#include <gtest/gtest.h>

#include "network/playback/MediaDispatcher.h"
#include "network/playback/NetworkPlaybackContext.h"

namespace {

// Stops the process-wide playback threads when the tests are done, before the process
// starts to exit: libraries that clean up at exit (the digest's) then find no thread of
// ours still running.
class PlaybackThreads : public ::testing::Environment {
public:
    void TearDown() override {
        NetworkPlaybackContext::shutdown();
        MediaDispatcher::shutdown();
    }
};

const ::testing::Environment* const playbackThreads = ::testing::AddGlobalTestEnvironment(new PlaybackThreads);

}  // namespace
