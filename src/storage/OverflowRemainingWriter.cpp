#include "storage/OverflowRemainingWriter.h"

#include "storage/IRecordable.h"
#include "storage/pager/Page.h"

void OverflowRemainingWriter::initialize(Page& page) {
    page.buffer().setPosition(Page::IndexData);
    _element.writeData(page.buffer(), _from, _count);
    page.setFirstItemOffset(static_cast<uint32_t>(page.buffer().position()));
}
