#include "app/archiving/ConnectionSettings.h"

#include "app/tables/RecordSite.h"

ConnectionSettings ConnectionSettings::of(const RecordSite& site) {
    ConnectionSettings settings;
    settings.address = site.address();
    settings.port = static_cast<uint16_t>(site.port());
    settings.user = site.username();
    settings.password = site.password();
    return settings;
}
