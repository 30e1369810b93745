#pragma once

#include <cstdint>
#include <string>

#include "base/DateTime.h"
#include "network/protocol/playback/MediaPosition.h"

// Where archiving can resume: the last flushed video or audio frame, kept in the current
// storage's information values under the "LastVideo" keys. The position is the recorder's
// own, the section ID and media ID the archive's. A plain value.
struct LastVideoRecord {
    static constexpr const char* PositionKey = "LastVideoPosition";
    static constexpr const char* SectionIDKey = "LastVideoSectionID";
    static constexpr const char* TimeKey = "LastVideoTime";
    static constexpr const char* MediaIDKey = "LastVideoMediaID";

    MediaPosition position;
    uint32_t sectionID = 0;
    DateTime time;
    uint64_t mediaID = 0;

    // A record names a frame when its section, the middle position number and its media ID
    // are non-zero and its time is set.
    bool isValid() const;

    // The texts of the four information values.
    std::string positionText() const;
    std::string sectionIDText() const;
    std::string timeText() const;
    std::string mediaIDText() const;
    // Parse the texts back; false (the field unchanged) for a text that is not of the form.
    bool parsePosition(const std::string& text);
    bool parseSectionID(const std::string& text);
    bool parseTime(const std::string& text);
    bool parseMediaID(const std::string& text);
};
