#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "storage/aio/FaultPlan.h"

// One run of a crash sweep: a fresh, installed fault plan and the point where the power
// is to go. The body sets up what it needs, calls `arm()` where the part under test
// begins (cut points count from there), runs its workload, and checks what survived only
// when `powerWasCut()`.
class Cut {
public:
    Cut(uint64_t point, uint32_t seed, bool atBarrier) : _point(point), _seed(seed), _atBarrier(atBarrier) {
        plan.install();
    }
    Cut(const Cut&) = delete;
    Cut& operator=(const Cut&) = delete;

    void arm() {
        if (_atBarrier) {
            plan.cutPowerAtBarrier(plan.barrierCount() + _point, _seed);
        } else {
            plan.cutPowerAtWrite(plan.writeCount() + _point, _seed);
        }
    }
    bool powerWasCut() const { return plan.powerIsCut(); }
    uint32_t seed() const { return _seed; }
    // "write 3, seed 7", for failure messages.
    std::string describe() const {
        return std::string(_atBarrier ? "barrier " : "write ") + std::to_string(_point) + ", seed " +
               std::to_string(_seed);
    }

    FaultPlan plan;

private:
    uint64_t _point;
    uint32_t _seed;
    bool _atBarrier;
};

// Cuts the power at every write of a workload (and, when asked, at every barrier), with
// `seeds` seeds each, until a run ends before reaching its cut point. Prints and returns
// how many runs lost power. QUILLFEN_LONG_SWEEP=1 runs ten times as many seeds.
inline uint32_t sweepPowerCuts(const char* name, uint32_t seeds, bool barriersToo,
                               const std::function<void(Cut&)>& body) {
    const char* longSweep = std::getenv("QUILLFEN_LONG_SWEEP");
    if (longSweep != nullptr && std::atoi(longSweep) > 0) {
        seeds *= 10;
    }
    uint32_t cuts = 0;
    for (int atBarrier = 0; atBarrier <= (barriersToo ? 1 : 0); ++atBarrier) {
        bool finished = false;
        for (uint64_t point = 1; !finished; ++point) {
            for (uint32_t seed = 1; seed <= seeds; ++seed) {
                Cut cut(point, seed, atBarrier != 0);
                body(cut);
                if (!cut.powerWasCut()) {
                    finished = true;  // the workload has fewer writes (barriers) than this
                    break;
                }
                ++cuts;
            }
        }
    }
    std::printf("%s: %u power cuts\n", name, cuts);
    return cuts;
}
