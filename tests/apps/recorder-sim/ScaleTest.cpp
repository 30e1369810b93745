#include <gtest/gtest.h>

#include <dirent.h>

#include "TestFacade.h"
#include "network/session/DisconnectReason.h"
#include "network/session/SelectDispatcher.h"

namespace {

int countEntries(const char* directory) {
    int n = 0;
    if (DIR* dir = ::opendir(directory)) {
        while (::readdir(dir) != nullptr) {
            ++n;
        }
        ::closedir(dir);
    }
    return n;
}

}  // namespace

TEST(ClientScale, HundredSessionsAtOnceTheNextIsRefusedAndStopReports201ToAll) {
    auto sim = startSim([](auto& c) { c.aliveIntervalMs = 0; });
    TestFacade facade(100);
    std::vector<int> handles;
    for (int i = 0; i < 100; ++i) {
        int handle = facade.connectTo(*sim, "admin", "secret");
        ASSERT_NE(handle, -1) << i;
        handles.push_back(handle);
    }
    EXPECT_EQ(facade.connectTo(*sim, "admin", "secret"), -1);
    for (int handle : handles) {
        ASSERT_TRUE(facade.waitLoggedIn(handle)) << handle << " reason " << facade.waitDisconnected(handle);
    }
    EXPECT_EQ(sim->loginCount(), 100);
    EXPECT_EQ(facade.dispatcher().contextsInUse(), 100);

    facade.stop();
    auto reasons = facade.read(facade.reasons);
    ASSERT_EQ(reasons.size(), 100u);
    for (int handle : handles) {
        EXPECT_EQ(reasons[handle], DisconnectReason::DispatcherStopped) << handle;
    }
}

TEST(ClientScale, ThousandConnectLoginCloseCyclesLeaveNoDescriptorOrThreadBehind) {
    auto sim = startSim([](auto& c) { c.aliveIntervalMs = 0; });
    TestFacade facade(4);
    // One cycle first, so that lazily created process-wide state exists before counting.
    int warmUp = facade.connectTo(*sim, "admin", "secret");
    ASSERT_TRUE(facade.waitLoggedIn(warmUp));
    facade.close(warmUp);
    ASSERT_EQ(facade.waitDisconnected(warmUp), 0);
    ASSERT_TRUE(facade.waitUntil([&] { return sim->connectionCount() == 0; }));
    int descriptors = countEntries("/proc/self/fd");
    int threads = countEntries("/proc/self/task");

    for (int i = 0; i < 1000; ++i) {
        int handle = facade.connectTo(*sim, "admin", "secret");
        ASSERT_NE(handle, -1) << i;
        ASSERT_TRUE(facade.waitLoggedIn(handle)) << i;
        facade.close(handle);
        ASSERT_EQ(facade.waitDisconnected(handle), 0) << i;
    }
    ASSERT_TRUE(facade.waitUntil([&] { return sim->connectionCount() == 0; }));
    EXPECT_EQ(countEntries("/proc/self/fd"), descriptors);
    EXPECT_EQ(countEntries("/proc/self/task"), threads);
    // The last context is freed right after its disconnected() returned.
    EXPECT_TRUE(facade.waitUntil([&] { return facade.dispatcher().contextsInUse() == 0; }));
    EXPECT_EQ(sim->loginCount(), 1001);
}
