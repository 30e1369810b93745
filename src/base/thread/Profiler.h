#pragma once

#include <cstdint>
#include <string>

// Measures a stream of samples (bytes sent, seconds archived): how many, their minimum,
// maximum and total, and the time between them, in milliseconds of Clock::current()'s tick
// count. Not thread-safe: its owner guards it.
class Profiler {
public:
    explicit Profiler(std::string name = std::string());

    // Starts a new measurement now.
    void reset();
    // Records `value`, and the interval since the previous sample (or the reset).
    void sample(uint32_t value);

    const std::string& name() const { return _name; }
    // Milliseconds from the reset to the last sample.
    uint32_t elapsed() const { return _lastTick - _startTick; }
    uint32_t samples() const { return _samples; }
    uint32_t lastValue() const { return _lastValue; }
    uint32_t minValue() const { return _minValue; }
    uint32_t maxValue() const { return _maxValue; }
    // 64 bits: byte counts of a long session pass 4 GiB.
    uint64_t totalValue() const { return _totalValue; }
    uint32_t minInterval() const { return _minInterval; }
    uint32_t maxInterval() const { return _maxInterval; }
    // 0 while there is no sample.
    uint64_t averageValue() const;
    uint32_t averageInterval() const;

private:
    std::string _name;
    uint32_t _startTick = 0;
    uint32_t _lastTick = 0;
    uint32_t _minInterval = 0xFFFFFFFF;
    uint32_t _maxInterval = 0;
    uint32_t _samples = 0;
    uint32_t _lastValue = 0;
    uint32_t _minValue = 0xFFFFFFFF;
    uint32_t _maxValue = 0;
    uint64_t _totalValue = 0;
};
