#pragma once

#include <atomic>
#include <vector>

#include "app/archiving/ArchivingEvent.h"
#include "base/thread/ISingleton.h"
#include "base/thread/Mutex.h"

class EventListener;

// Carries archiving events to the application's listeners and writes the ones with a log
// code into the system log for the event's site (level Error). Disabled until the
// application enables it, and then ignores posts. post() may be called from any thread;
// listeners run under the manager's mutex, in the order they were added.
class EventManager : public ISingleton {
public:
    static EventManager& instance();

    void enable() { _enabled.store(true); }
    void disable() { _enabled.store(false); }
    bool isEnabled() const { return _enabled.load(); }
    void addListener(EventListener* listener);
    void removeListener(EventListener* listener);
    void post(const ArchivingEvent& event);

private:
    EventManager() = default;

    Mutex _mutex;
    std::vector<EventListener*> _listeners;
    std::atomic<bool> _enabled{false};
};
