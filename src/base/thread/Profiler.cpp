#include "base/thread/Profiler.h"

#include <algorithm>

#include "base/Clock.h"

Profiler::Profiler(std::string name) : _name(std::move(name)) {
    reset();
}

void Profiler::reset() {
    _startTick = _lastTick = Clock::current().tickCount();
    _minInterval = 0xFFFFFFFF;
    _maxInterval = 0;
    _samples = 0;
    _lastValue = 0;
    _minValue = 0xFFFFFFFF;
    _maxValue = 0;
    _totalValue = 0;
}

void Profiler::sample(uint32_t value) {
    uint32_t now = Clock::current().tickCount();
    uint32_t interval = now - _lastTick;  // wraps correctly across the 32-bit tick overflow
    _lastTick = now;
    _minInterval = std::min(_minInterval, interval);
    _maxInterval = std::max(_maxInterval, interval);
    ++_samples;
    _lastValue = value;
    _minValue = std::min(_minValue, value);
    _maxValue = std::max(_maxValue, value);
    _totalValue += value;
}

uint64_t Profiler::averageValue() const {
    return _samples == 0 ? 0 : _totalValue / _samples;
}

uint32_t Profiler::averageInterval() const {
    return _samples == 0 ? 0 : elapsed() / _samples;
}
