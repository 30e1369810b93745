#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/DateTime.h"

// What a synthetic recording looks like. Together with the seed these options fix every
// frame, event and text-in entry of the recording. A plain value; validated when a
// SyntheticRecording is built from it.
struct SyntheticRecordingOptions {
    uint64_t seed = 1;

    int videoChannels = 4;    // 0..16; video channel c has mask bit c
    // 0..16; audio channel a belongs to video channel a % videoChannels, or, without video,
    // to none (requests then name audio channel a by mask bit a). At least one channel.
    int audioChannels = 1;
    int framesPerSecond = 5;  // per channel, video and audio alike; 1..60
    int keyFrameInterval = 10;  // frames per key group, 1..65535; groups restart with every section

    // Video payload bytes, drawn per frame from these ranges: key frames are large, as
    // real recorders' are, the frames that depend on them a few KiB. Each at least 16,
    // the largest at most 1000000 (a frame must fit one packet).
    uint32_t minFrameSize = 2048;  // frames depending on their key frame
    uint32_t maxFrameSize = 6144;
    uint32_t minKeyFrameSize = 100 * 1024;
    uint32_t maxKeyFrameSize = 900 * 1024;
    uint32_t audioFrameSize = 160;  // at least 16

    // Recording starts at `start` and runs in `sliceCount` slices of `sliceSeconds`, each
    // followed by `gapSeconds` without recording. Every slice is a recording section of its
    // own, numbered from `firstSectionID`.
    DateTime start = DateTime(2009, 3, 1, 10, 0, 0);
    int sliceCount = 3;
    int sliceSeconds = 600;
    int gapSeconds = 120;

    // Once, the recorder's clock is set back: `clockBackAfterSeconds` into slice
    // `clockBackSlice` (-1: never) the time jumps back by `clockBackSeconds` and a new
    // section begins. Later times all follow the set-back clock.
    int clockBackSlice = 1;
    int clockBackAfterSeconds = 300;
    int clockBackSeconds = 120;

    // One event in every `eventEverySeconds` recorded seconds, and one text-in entry in
    // every `textInEverySeconds` (0: none), at a second drawn from the seed.
    int eventEverySeconds = 30;
    int textInEverySeconds = 20;

    uint32_t firstSectionID = 1;
    uint64_t firstMediaID = 1;

    // The recorder's storages, numbered from 1.
    std::vector<std::string> storages = {"Internal Disk"};
};
