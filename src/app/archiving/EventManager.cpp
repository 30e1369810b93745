#include "app/archiving/EventManager.h"

#include <algorithm>
#include <mutex>

#include "app/archiving/EventListener.h"
#include "app/tables/SystemLogCode.h"
#include "app/tables/SystemLogger.h"

EventManager& EventManager::instance() {
    static std::atomic<EventManager*> slot{nullptr};
    return createOnce(slot, [] { return new EventManager(); });
}

void EventManager::addListener(EventListener* listener) {
    std::lock_guard<Mutex> lock(_mutex);
    if (std::find(_listeners.begin(), _listeners.end(), listener) == _listeners.end()) {
        _listeners.push_back(listener);
    }
}

void EventManager::removeListener(EventListener* listener) {
    std::lock_guard<Mutex> lock(_mutex);
    _listeners.erase(std::remove(_listeners.begin(), _listeners.end(), listener), _listeners.end());
}

void EventManager::post(const ArchivingEvent& event) {
    if (!_enabled.load()) {
        return;
    }
    {
        std::lock_guard<Mutex> lock(_mutex);
        for (EventListener* listener : _listeners) {
            listener->eventOccurred(event);
        }
    }
    int code = ArchivingEvent::logCode(event.type, event.value);
    if (code == SystemLogCode::None) {
        return;
    }
    bool withText = event.type == ArchivingEvent::ConnectFailed && !event.text.empty();
    SystemLogger::instance().log(SystemLogLevel::Error, event.site, code, withText ? event.text.c_str() : nullptr);
}
