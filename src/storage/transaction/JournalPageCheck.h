#pragma once

#include <cstdint>

class IJournaledStorage;

// Shared by the records that compare a page header on disk with the one they recorded.
namespace JournalPageCheck {

// Whether the header of `pageNumber` on disk equals `header` (128 bytes). A page that
// cannot be read is logged with `failText` (a format with the error text and the page
// number), rewritten as an empty page nobody can link to, and answers false; a read-only
// storage only answers false.
bool headerMatches(IJournaledStorage& storage, uint32_t pageNumber, const uint8_t* header,
                   const char* failText);

}  // namespace JournalPageCheck
