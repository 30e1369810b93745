#pragma once

#include <vector>

#include "base/thread/Actor.h"
#include "base/thread/LoopingThread.h"
#include "base/thread/Mutex.h"

// An unnamed looping thread that ticks its actors in the order they were added, one
// round about every 100 ms. Actors are added and removed under the loop's mutex, which is
// also held for a whole round, so once removeActor() returns the loop no longer uses the
// actor and it may be destroyed. Actors are not owned.
class ActionLoop : public LoopingThread {
public:
    static constexpr int RoundMilliseconds = 100;

    ActionLoop();

    void onStart() override;
    void runOnce() override;

    // Adds `actor` at the end of the round (the owner starts it; see Actor::start()).
    void addActor(Actor* actor);
    // Takes `actor` out; waits for a round in progress on another thread.
    void removeActor(Actor* actor);
    int actorCount();
    // One round without the pause: ticks every actor. runOnce() calls it before sleeping;
    // tests call it directly.
    void tickActors();

private:
    Mutex _mutex;
    std::vector<Actor*> _actors;
};
