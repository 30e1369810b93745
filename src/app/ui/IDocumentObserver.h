#pragma once

class RecordSite;

// Hears which rows of the schedule list the document adds, refreshes and removes, in
// place of the main window's messages; the web page's event stream listens here. Calls
// come from command threads and schedule threads with a copy of the site, and with no lock
// of the document held. Every operation does nothing by default.
class IDocumentObserver {
public:
    virtual ~IDocumentObserver() = default;
    virtual void siteAdded(const RecordSite&) {}
    virtual void siteChanged(const RecordSite&) {}
    virtual void siteRemoved(int /*key*/) {}
    // Every site has its schedule.
    virtual void schedulesCreated() {}
};
