#pragma once

#include "base/Time.h"
#include "base/thread/Actor.h"

class CQuillfenDoc;

// The daily timer of one schedule with archiving hours: at the start time it starts the
// site's archiving, at the stop time it stops it, through the document. Runs on the
// document's action loop; the hours may be changed from any thread.
class ScheduledArchive : public Actor {
public:
    static constexpr int StartAction = 0;
    static constexpr int StopAction = 1;

    ScheduledArchive(CQuillfenDoc& document, int key) : _document(document), _key(key) {}

    int key() const { return _key; }
    // Replaces the daily actions by a start at `start` and a stop at `stop`.
    void setHours(const Time& start, const Time& stop);
    // No daily actions: the site archives at all hours.
    void clearHours() { clearSchedule(); }

    void onIdle() override {}
    void onAction(int actionId) override;

private:
    CQuillfenDoc& _document;
    const int _key;
};
