#pragma once

#include "base/FourCharacterCode.h"

// The kind of recorder a storage was formatted for, kept in the superblock. The engine
// stores it and attaches no behaviour to it. A plain value; the default is four 0 bytes.
class RecorderType : public FourCharacterCode<RecorderType> {
public:
    RecorderType() : FourCharacterCode(nullptr) {}
    explicit RecorderType(const char* code) : FourCharacterCode(code) {}

    // "%c%c%c%c" of the four bytes.
    void toString(IFormatable& out) const override;

    static const RecorderType Recorder;  // "REC."
    static const RecorderType Backup;    // "BKUP"
    static const RecorderType Archive;   // "ARCH"
    static const RecorderType Morning;   // "MRNG"
    static const RecorderType Flac;      // "FLAC": storages formatted by this system
};
