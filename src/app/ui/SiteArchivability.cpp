#include "app/ui/SiteArchivability.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "app/group/StorageGroupContext.h"
#include "app/group/StorageGroupFile.h"
#include "app/tables/RecordSite.h"
#include "app/ui/IArchivingScheduler.h"

namespace {

// The repository the group file names: from the schedule's loaded group, or else read
// without taking the file from whoever holds it.
std::optional<UniqueID> repositoryOf(StorageGroupContext* context, const std::string& path) {
    if (context != nullptr && context->isLoaded() && context->file().path() == path) {
        return context->file().repositoryUniqueID();
    }
    StorageGroupFile file;
    if (!file.read(path)) {
        return std::nullopt;
    }
    return file.repositoryUniqueID();
}

}  // namespace

int SiteArchivability::notArchivableReason(const RecordSite& site) {
    std::error_code error;
    const std::string& path = site.storageGroupFile();
    if (path.empty() || !std::filesystem::is_regular_file(path, error) || error) {
        return RecordSite::GroupFileNotFound;
    }
    int key = site.scheduleKey();
    StorageGroupContext* context = key != RecordSite::NoKey ? _scheduler.context(key) : nullptr;
    std::optional<UniqueID> repository = repositoryOf(context, path);
    if (!repository || !repository->equals(site.id())) {
        return RecordSite::GroupFileCorrupted;
    }
    if (key == RecordSite::NoKey || _scheduler.capacity(key) == 0) {
        return RecordSite::NoStorage;
    }
    if (!site.rescheduled() && !_scheduler.hasResumePoint(key)) {
        return RecordSite::NoStartPoint;
    }
    return RecordSite::Archivable;
}
