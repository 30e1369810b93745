#pragma once

// A wait that grows by a factor after every use, up to a maximum, until it is reset: the
// schedule's reconnection and retry delays (1, 2, 4, ... 1800 seconds). A plain value; its
// owner guards it.
class ExponentialDelay {
public:
    void init(int initial, int factor, int maximum);
    // The current wait; the next one is the current times the factor, at most the maximum.
    int next();
    void reset() { _current = _initial; }
    int current() const { return _current; }

private:
    int _initial = 1;
    int _factor = 2;
    int _maximum = 1;
    int _current = 1;
};
