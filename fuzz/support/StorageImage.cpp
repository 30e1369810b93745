#include "support/StorageImage.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "base/Exception.h"
#include "base/File.h"
#include "storage/EventElement.h"
#include "storage/FixedSizeFileStorage.h"
#include "storage/MediaElement.h"
#include "storage/Recorder.h"
#include "storage/ResultSet.h"
#include "storage/TextInElement.h"
#include "storage/util/StorageChecker.h"

namespace StorageImage {

namespace {

const DateTime T0(2024, 5, 1, 10, 0, 0);

void record(Storage& storage, uint64_t from, uint64_t count) {
    Recorder recorder;
    recorder.attach(&storage, 0, false);
    std::vector<uint8_t> bytes(PageSize, 0);
    for (uint64_t n = from; n < from + count; ++n) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>(n * 31 + i);
        }
        MediaElement frame;
        frame.setTime(T0.plusSeconds(static_cast<int>(n)));
        frame.setChannelMask(BitMask32(n % 3 == 0 ? 2 : 1));
        if (n % 7 == 6) {
            frame.setMediaType(TimelineLinkedElement::TextIn);
            frame.setDataLength(8);
            frame.setPayload(reinterpret_cast<const uint8_t*>("text-in"));
        } else {
            frame.setMediaType(TimelineLinkedElement::Video);
            frame.setSyncKeyID(static_cast<uint32_t>(n / 5));
            frame.setSyncIndex(static_cast<uint16_t>(n % 5));
            frame.setDataLength(static_cast<uint32_t>(n % 5 == 0 ? PageSize * 3 / 4 : 300));
            frame.setPayload(bytes.data());
        }
        recorder.write(frame);
        if (n % 4 == 0) {
            EventElement event;
            event.setMediaID(frame.mediaID());
            event.setChannelMask(BitMask32(1));
            storage.writeEvent(event, false);
        }
    }
    recorder.detach();
}

std::string privatePath() {
    return "/tmp/quillfen-fuzz-" + std::to_string(::getpid()) + ".strg";
}

void readEverything(Storage& storage) {
    ResultSet rs;
    if (!rs.initToBegin(&storage, false)) {
        return;
    }
    ResultSet::Elements elements;
    PagePosition at;
    for (int steps = 0; steps < 10000 && rs.next(BitMask32(0xFFFFFFFF), elements, at); ++steps) {
        for (const TimelineElement& e : elements) {
            if (e.mediaType() == TimelineLinkedElement::TextIn) {
                TextInElement text;
                rs.readTextIn(e, text);
                continue;
            }
            MediaElement header;
            const uint8_t* parts[2];
            uint32_t lengths[2];
            if (rs.readFrame(e, header, parts, lengths)) {
                // Touch every byte handed out: it must lie in the result set's pages.
                volatile uint8_t sum = 0;
                for (int p = 0; p < 2; ++p) {
                    for (uint32_t i = 0; i < lengths[p]; ++i) {
                        sum = static_cast<uint8_t>(sum + parts[p][i]);
                    }
                }
            }
        }
    }
}

}  // namespace

std::vector<uint8_t> recorded(uint32_t pages, uint32_t frames) {
    std::string path = privatePath();
    File::create(path.c_str(), 8192 + uint64_t(PageSize) * pages);
    {
        FixedSizeFileStorage storage;
        storage.open(path.c_str());
        FormatOptions options;
        options.pageSize = PageSize;
        options.recorderType = RecorderType::Flac;
        storage.format(options);
        record(storage, 0, frames);
        storage.close(true);
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    File::remove(path.c_str());
    return bytes;
}

std::string writeFile(const uint8_t* data, size_t size) {
    std::string path = privatePath();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

void exercise(const std::string& path) {
    {
        FixedSizeFileStorage storage;
        storage.setReadOnly(true);
        try {
            if (storage.open(path.c_str())) {
                StorageChecker(storage).checkThoroughly();
                readEverything(storage);
            }
        } catch (const Exception&) {
        }
        storage.close(false);
    }
    FixedSizeFileStorage storage;
    try {
        if (storage.open(path.c_str())) {
            StorageChecker(storage).check();
            readEverything(storage);
            record(storage, 1000, 6);
            storage.flushAll();
            readEverything(storage);
        }
    } catch (const Exception&) {
    }
    storage.close(false);
}

}  // namespace StorageImage
