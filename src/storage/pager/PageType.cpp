#include "storage/pager/PageType.h"

#include "base/IFormatable.h"

const PageType PageType::Null("NULL");
const PageType PageType::FreePageList("FREE");
const PageType PageType::Timeline("TIML");
const PageType PageType::RecordingTable("RTBL");
const PageType PageType::Media("MDEA");
const PageType PageType::Event("EVNT");
const PageType PageType::PreEvent("PEVT");
const PageType PageType::Video("VIDE");
const PageType PageType::Audio("AUDI");
const PageType PageType::TextIn("TEXT");
const PageType PageType::Log("LOG ");
const PageType PageType::Journal("JNAL");
const PageType PageType::Info("INFO");
const PageType PageType::Bad("BAD");  // the fourth byte is 0

void PageType::toString(IFormatable& out) const {
    const uint8_t* b = bytes();
    out.format("%c%c%c%c", b[0], b[1], b[2], b[3]);
}
