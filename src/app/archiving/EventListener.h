#pragma once

struct ArchivingEvent;

// Hears every archiving event the event manager carries. Called with the manager's mutex
// held, from the scheduler's actor thread or a media dispatcher thread: an implementation
// must not add or remove listeners from inside the call.
class EventListener {
public:
    virtual ~EventListener() = default;
    virtual void eventOccurred(const ArchivingEvent& event) = 0;
};
