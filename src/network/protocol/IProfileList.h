#pragma once

#include <cstdint>

// The services a recorder offers, as announced in its sync response.
class IProfileList {
public:
    struct Entry {
        uint8_t type = 0;   // 1, 2 or 3; other values read as 0
        uint8_t value = 0;
        bool flag = false;
    };

    // The playback service.
    static constexpr uint8_t PlaybackProfile = 2;

    virtual ~IProfileList() = default;
    virtual int count() const = 0;
    virtual const Entry& entry(int index) const = 0;
    virtual bool contains(uint8_t profileType) const = 0;
};
