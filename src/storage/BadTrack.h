#pragma once

#include <cstdint>
#include <vector>

#include "storage/BadElement.h"
#include "storage/Track.h"

// The list of pages that must not be used again, on one "BAD" page. Opening fails with
// TarsilException 6 ("Bad Page Full") when the page has no room for another entry,
// since a further bad page could then not be recorded. Writer thread only.
class BadTrack : public Track {
public:
    BadTrack() : Track(PageType::Bad, BadElement::RecordSize) {}

    void init(Storage* storage, bool write, uint32_t lastPageNumber) override;
    std::unique_ptr<IRecordable> newElement() const override { return std::make_unique<BadElement>(); }

    void add(uint32_t page);
    bool contains(uint32_t page) const;
    const std::vector<uint32_t>& pages() const { return _pages; }

private:
    std::vector<uint32_t> _pages;
};
