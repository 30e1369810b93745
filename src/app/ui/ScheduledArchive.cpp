#include "app/ui/ScheduledArchive.h"

#include "app/ui/CQuillfenDoc.h"

void ScheduledArchive::setHours(const Time& start, const Time& stop) {
    clearSchedule();
    scheduleAction(StartAction, start);
    scheduleAction(StopAction, stop);
}

void ScheduledArchive::onAction(int actionId) {
    if (actionId == StartAction) {
        _document.startArchive(_key);
    } else if (actionId == StopAction) {
        _document.stopArchive(_key);
    }
}
