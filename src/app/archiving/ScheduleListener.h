#pragma once

class DateTime;

// Hears how one schedule is doing: each call names the schedule's key first. Calls come
// from the scheduler's actor thread, the playback network thread and the media dispatcher
// threads; the schedule holds its listener mutex during the call, so an implementation must
// not add or remove schedule listeners from inside it. Every operation does nothing by
// default.
class ScheduleListener {
public:
    virtual ~ScheduleListener() = default;

    virtual void scheduleConnecting(int) {}
    virtual void scheduleConnected(int) {}
    virtual void scheduleDisconnected(int, int /*reason*/) {}
    virtual void scheduleRequesting(int) {}
    virtual void scheduleArchiving(int) {}
    virtual void scheduleStopped(int) {}
    virtual void scheduleFailed(int) {}
    // The time of the last archived frame moved.
    virtual void scheduleProgress(int, const DateTime& /*lastTime*/) {}
    // Part of the interface the application implements; no schedule calls it.
    virtual void scheduleUpdated(int) {}
};
