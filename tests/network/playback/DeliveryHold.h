#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "network/playback/MediaDispatcher.h"
#include "network/playback/MediaDispatcherClient.h"

// Holds a thread at a chosen point until the test lets it go. Every wait is bounded, so a
// fault fails the test in seconds instead of hanging it.
class Gate {
public:
    // On the thread to hold: says it has arrived, then waits until the gate is opened.
    void pass(std::chrono::milliseconds bound = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(_mutex);
        ++_arrivals;
        _changed.notify_all();
        _changed.wait_for(lock, bound, [&] { return _open; });
    }
    // In the test: whether a thread has arrived (within `bound`).
    bool reached(std::chrono::milliseconds bound = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(_mutex);
        return _changed.wait_for(lock, bound, [&] { return _arrivals > 0; });
    }
    void open() {
        std::lock_guard<std::mutex> guard(_mutex);
        _open = true;
        _changed.notify_all();
    }

private:
    std::mutex _mutex;
    std::condition_variable _changed;
    int _arrivals = 0;
    bool _open = false;
};

// Holds the media dispatcher after it has taken the `nth` record (counting from 1) of one
// client from its queue and before that client gets it. Lets go and removes itself when it
// goes out of scope.
class DeliveryHold {
public:
    DeliveryHold(MediaDispatcherClient& client, int nth) : _state(std::make_shared<State>()) {
        _state->client = &client;
        _state->nth = nth;
        std::shared_ptr<State> state = _state;  // outlives this object while a dispatcher calls it
        MediaDispatcher::instance().setHookBeforeDeliver([state](MediaDispatcherClient& c) {
            if (&c == state->client && ++state->taken == state->nth) {
                state->gate.pass();
            }
        });
    }
    ~DeliveryHold() {
        _state->gate.open();
        MediaDispatcher::instance().setHookBeforeDeliver({});
    }
    DeliveryHold(const DeliveryHold&) = delete;
    DeliveryHold& operator=(const DeliveryHold&) = delete;

    bool reached() { return _state->gate.reached(); }
    void release() { _state->gate.open(); }

private:
    struct State {
        MediaDispatcherClient* client = nullptr;
        int nth = 1;
        std::atomic<int> taken{0};
        Gate gate;
    };
    std::shared_ptr<State> _state;
};
