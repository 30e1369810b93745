#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "storage/Track.h"

class CircularPage;

// The storage's own persistent log: one "LOG " page whose 64-byte elements form a ring,
// the oldest overwritten when it is full. A message longer than 47 characters spans
// several elements with one sequence number. The page is taken from the free list by
// the first message and joins its track when flushed. Written on the storage's writing
// thread under the page mutex; `messages` may read a registered page from any thread.
class LogTrack : public Track {
public:
    struct Message {
        uint32_t sequence = 0;
        DateTime time;
        int level = 0;
        std::string text;
    };

    LogTrack();
    ~LogTrack() override;

    void init(Storage* storage, bool write, uint32_t pageNumber) override;
    bool close(bool flush) override;
    void flush() override;
    bool isEmpty() override;
    std::unique_ptr<IRecordable> newElement() const override;

    void log(int level, const char* text);
    // The messages of the ring, oldest first (read-only storages included).
    static std::vector<Message> messages(Storage& storage);

    uint32_t lastSequence() const { return _sequence; }

private:
    void createPage();
    void push(const class LogElement& element);
    static std::vector<Message> readRing(CircularPage& page);

    std::unique_ptr<CircularPage> _page;
    uint32_t _sequence = 0;
    // A message written while another is being written (the page's own transaction may
    // log) is sent to the trace only, so the log never re-enters itself.
    bool _busy = false;
};
