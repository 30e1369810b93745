#pragma once

#include <atomic>
#include <mutex>

#include "base/thread/Mutex.h"

// Base of process-wide single instances (the random source, the media dispatcher, the
// playback context, the storage I/O context, the configuration tables). A subclass's
// instance() creates the object on first use through createOnce(), which tests the
// instance pointer once without and once under a process-wide mutex, so the common path
// takes no lock. Instances live until the process ends.
class ISingleton {
public:
    virtual ~ISingleton() = default;

protected:
    // Returns *slot, first creating it with make() when it is still empty.
    template <typename T, typename Make>
    static T& createOnce(std::atomic<T*>& slot, Make make) {
        T* instance = slot.load(std::memory_order_acquire);
        if (instance == nullptr) {
            std::lock_guard<Mutex> guard(creationMutex());
            instance = slot.load(std::memory_order_relaxed);
            if (instance == nullptr) {
                instance = make();
                slot.store(instance, std::memory_order_release);
            }
        }
        return *instance;
    }

    static Mutex& creationMutex();
};
