#pragma once

#include "app/tables/IArchivabilityCheck.h"

class IArchivingScheduler;

// Whether a site can archive, judged from its group file and its schedule, in this order:
// the group file must exist, name the site as its repository and hold a usable storage,
// and the site must have a pending start point or a frame to resume after.
class SiteArchivability : public IArchivabilityCheck {
public:
    explicit SiteArchivability(IArchivingScheduler& scheduler) : _scheduler(scheduler) {}
    int notArchivableReason(const RecordSite& site) override;

private:
    IArchivingScheduler& _scheduler;
};
