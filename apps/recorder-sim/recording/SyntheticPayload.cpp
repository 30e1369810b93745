#include "recorder-sim/recording/SyntheticPayload.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "network/protocol/playback/PlaybackLayout.h"
#include "recorder-sim/recording/SyntheticHash.h"

namespace {
constexpr uint8_t Magic[4] = {'Q', 'F', 'S', 'P'};
}

SyntheticPayload::SyntheticPayload(uint64_t seed, const Sizes& sizes) : _seed(seed), _sizes(sizes) {}

uint32_t SyntheticPayload::size(uint16_t mediaType, unsigned channel, uint64_t frameNumber, bool keyFrame) const {
    if (mediaType != PlaybackLayout::MediaTypeVideo) return _sizes.audio;
    uint32_t smallest = keyFrame ? _sizes.minKeyVideo : _sizes.minVideo;
    uint32_t largest = keyFrame ? _sizes.maxKeyVideo : _sizes.maxVideo;
    uint64_t span = uint64_t{largest} - smallest + 1;
    return smallest + static_cast<uint32_t>(SyntheticHash::of(_seed, 0x51CE, channel, frameNumber) % span);
}

uint64_t SyntheticPayload::streamKey(uint16_t mediaType, unsigned channel, uint64_t frameNumber) const {
    return SyntheticHash::of(_seed, (uint64_t{mediaType} << 8) | channel, frameNumber, 0xB17E5);
}

void SyntheticPayload::generate(uint64_t key, uint8_t* out, size_t from, size_t to) {
    // Eight bytes per mixed word, least significant first; `from` is a multiple of 8.
    size_t i = from;
    if constexpr (std::endian::native == std::endian::little) {
        // Whole words stored as they are: the simulator generates every byte it streams.
        for (; i + 8 <= to; i += 8) {
            uint64_t word = SyntheticHash::mix(key + i / 8);
            std::memcpy(out + (i - from), &word, 8);
        }
    }
    for (; i < to; i += 8) {
        uint64_t word = SyntheticHash::mix(key + i / 8);
        for (size_t j = 0; j < 8 && i + j < to; ++j) out[i - from + j] = static_cast<uint8_t>(word >> (8 * j));
    }
}

void SyntheticPayload::fill(uint16_t mediaType, unsigned channel, uint64_t frameNumber, bool keyFrame,
                            std::vector<uint8_t>& out) const {
    keyFrame = keyFrame && mediaType == PlaybackLayout::MediaTypeVideo;
    size_t length = size(mediaType, channel, frameNumber, keyFrame);
    out.resize(length);
    uint8_t stamp[StampSize] = {Magic[0], Magic[1], Magic[2], Magic[3], static_cast<uint8_t>(mediaType),
                                static_cast<uint8_t>(channel), static_cast<uint8_t>(keyFrame ? 1 : 0)};
    for (int i = 0; i < 8; ++i) stamp[8 + i] = static_cast<uint8_t>(frameNumber >> (56 - 8 * i));
    uint64_t key = streamKey(mediaType, channel, frameNumber);
    for (size_t i = 0; i < length && i < StampSize; ++i) out[i] = stamp[i];
    if (length > StampSize) generate(key, out.data() + StampSize, StampSize, length);
}

std::vector<uint8_t> SyntheticPayload::expected(uint16_t mediaType, unsigned channel, uint64_t frameNumber,
                                               bool keyFrame) const {
    std::vector<uint8_t> out;
    fill(mediaType, channel, frameNumber, keyFrame, out);
    return out;
}

bool SyntheticPayload::verify(uint16_t mediaType, unsigned channel, uint64_t frameNumber, bool keyFrame,
                              const uint8_t* data, size_t length) const {
    keyFrame = keyFrame && mediaType == PlaybackLayout::MediaTypeVideo;
    if (data == nullptr || length != size(mediaType, channel, frameNumber, keyFrame)) return false;
    Stamp stamp;
    if (!readStamp(data, length, stamp)) return false;
    if (stamp.mediaType != mediaType || stamp.channel != channel || stamp.frameNumber != frameNumber ||
        stamp.keyFrame != keyFrame) {
        return false;
    }
    if (data[6] > 1 || data[7] != 0) return false;
    uint64_t key = streamKey(mediaType, channel, frameNumber);
    uint8_t block[4096];
    for (size_t from = StampSize; from < length; from += sizeof block) {
        size_t to = std::min(length, from + sizeof block);
        generate(key, block, from, to);
        if (std::memcmp(block, data + from, to - from) != 0) return false;
    }
    return true;
}

bool SyntheticPayload::verifyStamped(const uint8_t* data, size_t length) const {
    Stamp stamp;
    return readStamp(data, length, stamp) &&
           verify(stamp.mediaType, stamp.channel, stamp.frameNumber, stamp.keyFrame, data, length);
}

bool SyntheticPayload::readStamp(const uint8_t* data, size_t length, Stamp& out) {
    if (data == nullptr || length < StampSize) return false;
    for (int i = 0; i < 4; ++i) {
        if (data[i] != Magic[i]) return false;
    }
    out.mediaType = data[4];
    out.channel = data[5];
    out.keyFrame = data[6] == 1;
    out.frameNumber = 0;
    for (int i = 0; i < 8; ++i) out.frameNumber = (out.frameNumber << 8) | data[8 + i];
    return true;
}
