#include "base/thread/Event.h"

#include <chrono>

void Event::set() {
    std::lock_guard<std::mutex> guard(_mutex);
    _set = true;
    _changed.notify_all();
}

void Event::reset() {
    std::lock_guard<std::mutex> guard(_mutex);
    _set = false;
}

bool Event::isSet() const {
    std::lock_guard<std::mutex> guard(_mutex);
    return _set;
}

void Event::wait() const {
    std::unique_lock<std::mutex> lock(_mutex);
    _changed.wait(lock, [this] { return _set; });
}

bool Event::waitFor(int milliseconds) const {
    std::unique_lock<std::mutex> lock(_mutex);
    return _changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return _set; });
}
