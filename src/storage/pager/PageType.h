#pragma once

#include "base/FourCharacterCode.h"

// The four-byte tag in every page header and track-list record that says which track a
// page belongs to. The codes are stored in files and cannot change. A plain value.
class PageType : public FourCharacterCode<PageType> {
public:
    PageType() : FourCharacterCode("NULL") {}
    explicit PageType(const char* code) : FourCharacterCode(code) {}

    // "%c%c%c%c" of the four bytes.
    void toString(IFormatable& out) const override;

    static const PageType Null;
    static const PageType FreePageList;
    static const PageType Timeline;
    static const PageType RecordingTable;
    static const PageType Media;
    static const PageType Event;
    static const PageType PreEvent;
    static const PageType Video;
    static const PageType Audio;
    static const PageType TextIn;
    static const PageType Log;
    static const PageType Journal;
    static const PageType Info;
    static const PageType Bad;
};
