#pragma once

class RecordSite;

// Decides whether a site can archive at all: RecordSite::Archivable, or the reason it
// cannot (its group file is missing or belongs to another site, its group holds no storage,
// it has nothing to start or resume from). The station implements it over the site's
// group file and schedule. The site container calls it on a copy of the site without
// holding its own lock, so an implementation may ask the scheduler.
class IArchivabilityCheck {
public:
    virtual ~IArchivabilityCheck() = default;
    virtual int notArchivableReason(const RecordSite& site) = 0;
};
