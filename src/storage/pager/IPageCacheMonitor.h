#pragma once

class Page;

// Told before and after every page write of a storage (the storage itself, which keeps
// its time stamp current and informs its listeners). Called on the writing thread.
class IPageCacheMonitor {
public:
    virtual ~IPageCacheMonitor() = default;
    virtual void beforeWrite(Page& page, bool headerOnly) = 0;
    virtual void afterWrite(Page& page, bool headerOnly) = 0;
};
