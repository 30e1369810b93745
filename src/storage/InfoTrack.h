#pragma once

#include <map>
#include <memory>
#include <string>

#include "base/thread/Mutex.h"
#include "storage/PagePosition.h"
#include "storage/Track.h"

// The storage's key/value information (the resume record among others): 64-byte
// elements in a chain of "INFO" pages, loaded into a map at init. Setting a key that
// exists rewrites its element in place; a new key is appended. The map has its own
// mutex, so other threads may read it while the writer sets values.
class InfoTrack : public Track {
public:
    InfoTrack();
    ~InfoTrack() override;

    void init(Storage* storage, bool write, uint32_t lastPageNumber) override;
    bool close(bool flush) override;
    std::unique_ptr<IRecordable> newElement() const override;

    // Keys and values keep at most 31 characters.
    void set(const std::string& key, const std::string& value);
    bool get(const std::string& key, std::string& value);
    void getAll(std::map<std::string, std::string>& out);

private:
    void loadAll();

    Mutex _mutex;
    std::map<std::string, std::string> _values;
    std::map<std::string, PagePosition> _positions;
};
