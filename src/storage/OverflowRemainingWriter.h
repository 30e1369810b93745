#pragma once

#include "storage/pager/IPageInitializer.h"

class IRecordable;

// Starts a new page with the payload bytes of an element that did not fit the page
// before: they go at the data start, and the page's first element begins after them.
class OverflowRemainingWriter : public IPageInitializer {
public:
    OverflowRemainingWriter(const IRecordable& element, int from, int count)
        : _element(element), _from(from), _count(count) {}

    void initialize(Page& page) override;

private:
    const IRecordable& _element;
    int _from;
    int _count;
};
