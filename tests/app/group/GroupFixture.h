#pragma once

#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "SyntheticFrames.h"
#include "TempDir.h"
#include "TrackFixture.h"
#include "app/group/MultiResultSet.h"
#include "app/group/StorageGroup.h"
#include "app/group/StorageGroupContext.h"
#include "app/group/StorageGroupFile.h"
#include "app/group/StorageGroupNaming.h"
#include "storage/Recorder.h"
#include "storage/TextInElement.h"

// A group on disk as a new schedule gets it: the group file and `count` formatted
// storages of `pages` pages, named after the site, all listed.
struct GroupOnDisk {
    std::string groupPath;
    std::vector<std::string> storages;
    UniqueID repository;
};

inline GroupOnDisk makeGroup(const TempDir& dir, int count, uint32_t pages, uint32_t pageSize = TestPageSize,
                             const std::string& site = "north gate") {
    GroupOnDisk group;
    group.groupPath = dir.file(StorageGroupNaming::groupFileName(site));
    StorageGroupFile file;
    file.create(group.groupPath, group.repository);
    file.load(group.groupPath);
    group.storages = StorageGroupNaming::storageFilePaths(dir.path().string(), site, count);
    for (const std::string& path : group.storages) {
        StorageGroupContext::createStorageFile(path, 8192 + uint64_t(pages) * pageSize, group.repository, pageSize);
        file.addStorageFile(path);
    }
    file.close();
    return group;
}

// What the recorder accepted, in writing order.
struct Written {
    uint64_t mediaID = 0;
    uint16_t mediaType = 0;
    uint32_t mask = 0;
    uint16_t syncIndex = 0;
};

// Writes frames into a storage (a group) through a recorder, as the archiver does, and
// remembers what the timeline accepted. Media IDs must rise with every frame.
struct Feed {
    Recorder recorder;
    std::vector<Written> accepted;
    uint64_t lastID = 0;
    std::string problem;

    explicit Feed(Storage& storage) { recorder.attach(&storage, 0, false); }
    bool write(MediaElement& frame) {
        PagePosition at = recorder.write(frame);
        if (frame.mediaID() <= lastID && problem.empty()) {
            problem = "media ID " + std::to_string(frame.mediaID()) + " after " + std::to_string(lastID);
        }
        lastID = frame.mediaID();
        if (at.isSet()) {
            accepted.push_back(
                Written{frame.mediaID(), frame.mediaType(), frame.channelMask().value(), frame.syncIndex()});
        }
        return at.isSet();
    }
};

// The oldest media ID still in any member's timeline.
inline uint64_t firstSurvivingID(StorageGroup& group) {
    uint64_t first = ~uint64_t(0);
    for (Storage* storage : group.readingStorages()) {
        TimelineElement entry;
        if (StorageUtility(*storage).firstItem(PageType::Timeline, entry)) {
            first = std::min(first, entry.mediaID());
        }
    }
    return first;
}

// What a reader of the whole group must return: every accepted frame from `firstID` on,
// except video of a channel mask before that mask's first key frame there (its group
// began in what was given up).
inline std::vector<uint64_t> survivorsFrom(const std::vector<Written>& accepted, uint64_t firstID) {
    std::vector<uint64_t> out;
    std::set<uint32_t> keyed;
    for (const Written& w : accepted) {
        if (w.mediaID < firstID) {
            continue;
        }
        if (w.mediaType == TimelineLinkedElement::Video) {
            if (w.syncIndex == 0) {
                keyed.insert(w.mask);
            } else if (!keyed.count(w.mask)) {
                continue;
            }
        }
        out.push_back(w.mediaID);
    }
    return out;
}

// Checks one frame read back: header and payload (audio, video) or text.
struct FrameCheck {
    std::function<bool(const MediaElement&, const std::vector<uint8_t>&)> media;
    std::function<bool(const TextInElement&)> text;
};

// Everything a MultiResultSet returns reading the group forwards (backwards): the media
// IDs in the order returned. Each frame is read and checked; `problems` names the bad
// ones, `storages` counts the changes of storage met on the way.
struct ReadBack {
    std::vector<uint64_t> ids;
    std::vector<TimelineElement> elements;
    std::vector<Storage*> storageOf;
    std::vector<uint32_t> sections;
    std::string problems;
    // The frames that did not read back, and the storage each one is in.
    std::map<uint64_t, Storage*> bad;
    int storageChanges = 0;
};

inline ReadBack readGroup(StorageGroup& group, const FrameCheck& check, bool backwards = false,
                          BitMask32 channels = BitMask32(0xFFFFFFFF)) {
    ReadBack r;
    std::unique_ptr<ResultSet> set = group.createResultSet();
    auto& rs = dynamic_cast<MultiResultSet&>(*set);
    if (!(backwards ? rs.initToEnd(&group, false) : rs.initToBegin(&group, false))) {
        r.problems = "the reader cannot begin\n";
        return r;
    }
    ResultSet::Elements out;
    PagePosition at;
    Storage* last = nullptr;
    std::ostringstream problems;
    while (backwards ? rs.previous(channels, out, at) : rs.next(channels, out, at)) {
        if (last != nullptr && rs.storage() != last) {
            ++r.storageChanges;
        }
        last = rs.storage();
        const TimelineElement& e = out.back();
        r.ids.push_back(e.mediaID());
        r.elements.push_back(e);
        r.storageOf.push_back(rs.storage());
        if (r.sections.empty() || r.sections.back() != rs.currentSectionID()) {
            r.sections.push_back(rs.currentSectionID());
        }
        if (e.mediaType() == TimelineLinkedElement::TextIn) {
            TextInElement text;
            if (!rs.readTextIn(e, text) || !check.text(text)) {
                problems << "text-in " << e.mediaID() << " does not read back\n";
                r.bad[e.mediaID()] = rs.storage();
            }
            continue;
        }
        MediaElement header;
        const uint8_t* parts[2];
        uint32_t lengths[2];
        if (!rs.readFrame(e, header, parts, lengths)) {
            problems << "frame " << e.mediaID() << " cannot be read\n";
            r.bad[e.mediaID()] = rs.storage();
            continue;
        }
        std::vector<uint8_t> bytes(parts[0], parts[0] + lengths[0]);
        if (lengths[1] > 0) {
            bytes.insert(bytes.end(), parts[1], parts[1] + lengths[1]);
        }
        if (!check.media(header, bytes)) {
            problems << "frame " << e.mediaID() << " has other bytes\n";
            r.bad[e.mediaID()] = rs.storage();
        }
    }
    r.problems = problems.str();
    return r;
}

// A forward reading without the video frames whose key group began in another storage
// (before a switch): a reader going backwards, or starting in that storage, cannot decode
// them and passes them over.
inline std::vector<uint64_t> withinStorageGroups(const ReadBack& forwards) {
    std::map<std::pair<uint32_t, uint32_t>, Storage*> keyIn;  // (mask, key) -> storage of its key frame
    std::vector<uint64_t> out;
    for (size_t i = 0; i < forwards.elements.size(); ++i) {
        const TimelineElement& e = forwards.elements[i];
        std::pair<uint32_t, uint32_t> group(e.channelMask().value(), e.syncKeyID());
        if (e.mediaType() == TimelineLinkedElement::Video) {
            if (e.syncIndex() == 0) {
                keyIn[group] = forwards.storageOf[i];
            } else if (keyIn[group] != forwards.storageOf[i]) {
                continue;
            }
        }
        out.push_back(e.mediaID());
    }
    return out;
}

// Where two ID sequences first differ, for failure messages.
inline std::string firstDifference(const std::vector<uint64_t>& got, const std::vector<uint64_t>& expected) {
    size_t i = 0;
    while (i < got.size() && i < expected.size() && got[i] == expected[i]) {
        ++i;
    }
    if (i == got.size() && i == expected.size()) {
        return "";
    }
    std::ostringstream out;
    out << "read " << got.size() << " frames, expected " << expected.size() << "; first difference at " << i
        << ": read " << (i < got.size() ? std::to_string(got[i]) : "nothing") << ", expected "
        << (i < expected.size() ? std::to_string(expected[i]) : "nothing");
    return out.str();
}

// Records the switches of a group: the storage each one moved to.
struct SwitchLog : IStorageGroupListener {
    std::vector<Storage*> to;
    std::function<void(Storage&)> onChanged;
    void recordingStorageChanging(StorageGroup&) override {}
    void recordingStorageChanged(Storage& current) override {
        to.push_back(&current);
        if (onChanged) {
            onChanged(current);
        }
    }
};
