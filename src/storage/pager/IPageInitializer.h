#pragma once

class Page;

// Fills a freshly initialised page before it becomes visible to readers (for example a
// media track copying the remainder of an item into its new page).
class IPageInitializer {
public:
    virtual ~IPageInitializer() = default;
    virtual void initialize(Page& page) = 0;
};
