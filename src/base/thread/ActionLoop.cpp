#include "base/thread/ActionLoop.h"

#include <algorithm>
#include <mutex>

ActionLoop::ActionLoop(int roundMilliseconds) : LoopingThread(nullptr), _roundMilliseconds(roundMilliseconds) {}

void ActionLoop::onStart() {
    std::lock_guard<Mutex> guard(_mutex);
    // Set in the same locked step that starts the present actors, so an actor added
    // concurrently is started either here or by addActor(), never by both or neither.
    _running = true;
    for (Actor* actor : _actors) {
        actor->start();
    }
}

void ActionLoop::onStop() {
    std::lock_guard<Mutex> guard(_mutex);
    _running = false;
}

void ActionLoop::runOnce() {
    tickActors();
    if (!stopRequested()) {
        _wakeUp->pause(_roundMilliseconds);
    }
}

void ActionLoop::stop() {
    LoopingThread::stop();
    _wakeUp->request();  // a loop in its pause leaves now
}

void ActionLoop::tickActors() {
    std::lock_guard<Mutex> guard(_mutex);
    // By index: an action may remove an actor on this thread (the mutex is recursive);
    // the one after it then waits for the next round instead of being ticked twice.
    for (size_t i = 0; i < _actors.size(); ++i) {
        _actors[i]->tick();
    }
}

void ActionLoop::addActor(Actor* actor) {
    std::lock_guard<Mutex> guard(_mutex);
    if (std::find(_actors.begin(), _actors.end(), actor) != _actors.end()) {
        return;
    }
    _actors.push_back(actor);
    actor->setWakeUp(_wakeUp);
    if (_running) {
        actor->start();
    }
}

void ActionLoop::removeActor(Actor* actor) {
    std::lock_guard<Mutex> guard(_mutex);
    auto removed = std::remove(_actors.begin(), _actors.end(), actor);
    if (removed != _actors.end()) {
        actor->setWakeUp(nullptr);
    }
    _actors.erase(removed, _actors.end());
}

int ActionLoop::actorCount() {
    std::lock_guard<Mutex> guard(_mutex);
    return static_cast<int>(_actors.size());
}
