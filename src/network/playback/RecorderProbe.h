#pragma once

#include <string>
#include <vector>

#include "base/Date.h"
#include "network/protocol/LoginResult.h"
#include "network/protocol/ProductInfo.h"
#include "network/protocol/RemoteSystemInfo.h"
#include "network/protocol/SiteAddress.h"
#include "network/protocol/playback/RecordedSlice.h"

// What a probe of a recorder found: on success its product and system information, its
// recording calendar and its time table; on failure the reason number (the disconnect
// reasons of the session layer, 110 when the recorder did not answer in time) and a
// sentence for people.
struct RecorderProbeResult {
    bool ok = false;
    int reason = 0;
    std::string explanation;

    ProductInfo product;
    RemoteSystemInfo system;
    std::vector<Date> calendar;
    std::vector<RecordedSlice> timeTable;
};

// Checks that a recorder can be reached and logged in to, and fetches what describes it.
// Used by the probe command and by the schedule wizard's connection test. run() blocks
// the calling thread (never the playback threads) for at most the time-out per step;
// several probes may run at once.
class RecorderProbe {
public:
    explicit RecorderProbe(int stepTimeoutMs = 20000) : _stepTimeoutMs(stepTimeoutMs) {}

    RecorderProbeResult run(const SiteAddress& site);

    // A readable explanation of a disconnect reason.
    static std::string explain(int reason);

private:
    int _stepTimeoutMs;
};
