#pragma once

#include <memory>
#include <vector>

#include "base/thread/Actor.h"
#include "base/thread/LoopWakeUp.h"
#include "base/thread/LoopingThread.h"
#include "base/thread/Mutex.h"

// An unnamed looping thread that ticks its actors in the order they were added, one
// round about every 100 ms, or at once when an actor asks for an action that is due
// already (through the LoopWakeUp the loop hands its actors): a chain of actions that
// each ask for the next runs without a pause between them. Actors are added and removed
// under the loop's mutex, which is
// also held for a whole round, so once removeActor() returns the loop no longer uses the
// actor and it may be destroyed. Actors are not owned.
//
// Every actor is started once per run of the loop before its first tick there: those
// present when the loop starts by onStart() on the loop's thread, one added while the
// loop runs by addActor() itself. Without that start an actor's day never begins, and its
// daily actions would stop after the first day.
class ActionLoop : public LoopingThread {
public:
    static constexpr int RoundMilliseconds = 100;

    explicit ActionLoop(int roundMilliseconds = RoundMilliseconds);

    void onStart() override;
    void runOnce() override;
    void onStop() override;

    // Adds `actor` at the end of the round; adding one already present does nothing.
    // While the loop runs the actor is started before this returns (waiting for a round
    // in progress on another thread); otherwise the loop's start will start it.
    void addActor(Actor* actor);
    // Takes `actor` out; waits for a round in progress on another thread.
    void removeActor(Actor* actor);
    int actorCount();
    // One round without the pause: ticks every actor. runOnce() calls it before sleeping;
    // tests call it directly.
    void tickActors();
    void stop() override;

private:
    Mutex _mutex;
    std::vector<Actor*> _actors;
    // Between onStart() and onStop(): actors added now must be started by addActor().
    bool _running = false;

    const int _roundMilliseconds;
    const std::shared_ptr<LoopWakeUp> _wakeUp = std::make_shared<LoopWakeUp>();
};
