#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The bytes of every synthetic frame, as a pure function of the frame's stream (media type
// and channel), its frame number in that stream, whether it is a key frame and the
// recording's seed; only the sizes also depend on the configured size ranges. A receiver
// that archived a frame can therefore recompute what it must have received and compare
// byte for byte.
//
// Each payload starts with a 16-byte stamp naming its stream and frame number ("QFSP",
// media type, channel, 1 for a key frame or 0, a zero byte, the frame number big-endian),
// followed by pseudo-random bytes. Immutable after construction; safe to share between
// threads.
class SyntheticPayload {
public:
    static constexpr size_t StampSize = 16;

    struct Stamp {
        uint16_t mediaType = 0;
        unsigned channel = 0;
        bool keyFrame = false;
        uint64_t frameNumber = 0;
    };

    // The size ranges of video payloads (dependent frames, key frames) and the size of
    // audio payloads.
    struct Sizes {
        uint32_t minVideo = 0;
        uint32_t maxVideo = 0;
        uint32_t minKeyVideo = 0;
        uint32_t maxKeyVideo = 0;
        uint32_t audio = 0;
    };

    SyntheticPayload(uint64_t seed, const Sizes& sizes);

    // `keyFrame` only matters for video.
    uint32_t size(uint16_t mediaType, unsigned channel, uint64_t frameNumber, bool keyFrame) const;
    // Replaces `out` by the payload of the frame.
    void fill(uint16_t mediaType, unsigned channel, uint64_t frameNumber, bool keyFrame,
              std::vector<uint8_t>& out) const;
    std::vector<uint8_t> expected(uint16_t mediaType, unsigned channel, uint64_t frameNumber, bool keyFrame) const;

    // True when `data` is exactly the payload of that frame: right length, every byte equal.
    bool verify(uint16_t mediaType, unsigned channel, uint64_t frameNumber, bool keyFrame, const uint8_t* data,
                size_t length) const;
    // Verifies a payload against the frame its own stamp names; false when the stamp is
    // unreadable. Use `verify` when the frame is known from elsewhere (the header).
    bool verifyStamped(const uint8_t* data, size_t length) const;

    // Reads the stamp at the start of a payload; false when it is too short or not one.
    static bool readStamp(const uint8_t* data, size_t length, Stamp& out);

    uint64_t seed() const { return _seed; }

private:
    // Bytes [from, to) of the payload whose stream key is `key`, written to out[0 .. to - from).
    static void generate(uint64_t key, uint8_t* out, size_t from, size_t to);
    uint64_t streamKey(uint16_t mediaType, unsigned channel, uint64_t frameNumber) const;

    uint64_t _seed;
    Sizes _sizes;
};
