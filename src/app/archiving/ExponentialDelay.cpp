#include "app/archiving/ExponentialDelay.h"

#include <algorithm>

void ExponentialDelay::init(int initial, int factor, int maximum) {
    _initial = initial;
    _factor = factor;
    _maximum = maximum;
    _current = initial;
}

int ExponentialDelay::next() {
    int wait = _current;
    // Computed in 64 bits so a large factor cannot overflow before the cap applies.
    _current = static_cast<int>(std::min<long long>(static_cast<long long>(_current) * _factor, _maximum));
    return wait;
}
