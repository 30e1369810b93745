#include <gtest/gtest.h>

#include "network/playback/MediaDispatcher.h"
#include "network/playback/NetworkPlaybackContext.h"

namespace {

// Stops the process-wide playback threads when the tests are done, before the process
// starts to exit.
class PlaybackThreads : public ::testing::Environment {
public:
    void TearDown() override {
        NetworkPlaybackContext::shutdown();
        MediaDispatcher::shutdown();
    }
};

const ::testing::Environment* const playbackThreads = ::testing::AddGlobalTestEnvironment(new PlaybackThreads);

}  // namespace
