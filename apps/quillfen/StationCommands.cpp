#include "StationCommands.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "TextTable.h"
#include "app/tables/ForeignDatabaseException.h"
#include "app/tables/SiteContainer.h"
#include "app/tables/SystemLogCode.h"
#include "app/tables/SystemLogger.h"
#include "app/util/DataDirectory.h"
#include "base/DatabaseException.h"
#include "base/Date.h"
#include "base/TextOf.h"
#include "database/DataWarehouse.h"

namespace StationCommands {

namespace {

// How long a command waits for the running station to finish a write.
constexpr int BUSY_TIMEOUT_MS = 5000;

void error(const std::string& text) {
    std::fprintf(stderr, "quillfen: %s\n", TextTable::printable(text).c_str());
}

const char* yesNo(bool flag) {
    return flag ? "yes" : "no";
}

// Reads "YYYY-MM-DD" or "YYYY/MM/DD" into `date`; false for anything else, impossible
// days included.
bool parseDate(const std::string& text, Date& date) {
    int year = 0;
    int month = 0;
    int day = 0;
    char sep1 = 0;
    char sep2 = 0;
    int consumed = 0;
    bool plain = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '/';
    });
    if (!plain || text.size() > 10 || !std::isdigit(static_cast<unsigned char>(text[0])) ||
        std::sscanf(text.c_str(), "%4d%c%2d%c%2d%n", &year, &sep1, &month, &sep2, &day, &consumed) != 5 ||
        consumed != static_cast<int>(text.size()) || sep1 != sep2 || (sep1 != '-' && sep1 != '/')) {
        return false;
    }
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > Date::daysInMonth(year, month)) {
        return false;
    }
    date = Date(year, month, day);
    return true;
}

bool parseBound(const char* option, const std::string& text, const Date& fallback, Date& date) {
    if (text.empty()) {
        date = fallback;
        return true;
    }
    if (!parseDate(text, date)) {
        error(std::string(option) + ": '" + text + "' is not a date (expected YYYY-MM-DD)");
        return false;
    }
    return true;
}

// The site a --site argument names: its id, or the exact name of one site.
RecordSite* findSite(const std::string& wanted) {
    std::vector<RecordSite*> byName;
    for (RecordSite* site : SiteContainer::instance().sites(true)) {
        if (strcasecmp(textOf(site->id()).c_str(), wanted.c_str()) == 0) {
            return site;
        }
        if (site->name() == wanted) {
            byName.push_back(site);
        }
    }
    if (byName.size() == 1) {
        return byName.front();
    }
    if (byName.empty()) {
        error("no site is named or has the id '" + wanted + "' (see: quillfen sites)");
    } else {
        error(std::to_string(byName.size()) + " sites are named '" + wanted + "'; give the id instead (see: quillfen sites)");
    }
    return nullptr;
}

std::string ownerName(const UniqueID& owner) {
    RecordSite* site = SiteContainer::instance().find(owner);
    return site != nullptr ? site->name() : textOf(owner);
}

std::string messageText(const SystemLog& entry) {
    std::string text = SystemLogCode::text(entry.code());
    if (entry.message().empty()) {
        return text;
    }
    return text.empty() ? entry.message() : text + " : " + entry.message();
}

// Rows of the sites table that are no usable site stay in the file; the person who runs
// the command learns of them instead of seeing them vanish.
void warnAboutLeftOutRows() {
    for (const SiteContainer::LeftOutRow& row : SiteContainer::instance().leftOutRows()) {
        error("a row of the sites table is left out: " + row.reason + " (site '" + row.name + "', id '" +
              row.idText + "')");
    }
}

}  // namespace

bool openData(const std::string& dataDir) {
    std::filesystem::path dir;
    try {
        dir = DataDirectory::resolve(dataDir);
        DataDirectory::prepare(dir);
    } catch (const Exception& e) {
        error("cannot use the data directory " + (dir.empty() ? dataDir : dir.string()) + ": " + messageOf(e));
        return false;
    }
    std::string path = DataDirectory::databasePath(dir).string();
    try {
        DataWarehouse::instance().open(path, BUSY_TIMEOUT_MS);
        // Reading the schema tells at once whether the file is a usable database.
        std::vector<std::string> names;
        DataWarehouse::instance().database().tableNames(names);
    } catch (const DatabaseException& e) {
        error("cannot open " + path + ": " + messageOf(e));
        return false;
    }
    try {
        if (!SiteContainer::instance().load() || !SystemLogger::instance().open()) {
            error("cannot read the sites and log tables of " + path + " (run with --trace for details)");
            return false;
        }
    } catch (const ForeignDatabaseException& e) {
        error("cannot use " + path + ": " + messageOf(e));
        return false;
    }
    return true;
}

int listSites() {
    std::vector<RecordSite*> sites = SiteContainer::instance().sites(true);
    std::stable_sort(sites.begin(), sites.end(), [](RecordSite* a, RecordSite* b) { return a->name() < b->name(); });
    if (sites.empty()) {
        std::printf("No sites.\n");
        warnAboutLeftOutRows();
        return 0;
    }
    TextTable table({"NAME", "ADDRESS", "PORT", "ARCHIVING", "DELETED", "ID"});
    for (RecordSite* site : sites) {
        table.addRow({site->name(), site->address(), std::to_string(site->port()), yesNo(site->archiving()),
                      yesNo(site->deleted()), textOf(site->id())});
    }
    table.print(stdout);
    warnAboutLeftOutRows();
    return 0;
}

int showLog(const LogFilter& filter) {
    Date from;
    Date to;
    if (!parseBound("--from", filter.from, Date(1, 1, 1), from) ||
        !parseBound("--to", filter.to, Date(9999, 12, 31), to)) {
        return 1;
    }
    if (to.lessThan(from)) {
        error("--from " + textOf(from) + " is after --to " + textOf(to));
        return 1;
    }
    RecordSite* site = nullptr;
    if (!filter.site.empty() && (site = findSite(filter.site)) == nullptr) {
        return 1;
    }
    UniqueID siteId = site != nullptr ? site->id() : UniqueID();
    if (!SystemLogger::instance().select(from, to, site != nullptr ? &siteId : nullptr)) {
        error("cannot read the log (run with --trace for details)");
        return 1;
    }
    std::vector<SystemLog> entries = SystemLogger::instance().entries();
    if (entries.empty()) {
        std::printf("No log entries.\n");
        return 0;
    }
    TextTable table({"DATE", "TIME", "LEVEL", "SITE", "MESSAGE"});
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        table.addRow({textOf(it->time().date()), textOf(it->time().time()), SystemLogLevel::name(it->level()),
                      ownerName(it->owner()), messageText(*it)});
    }
    table.print(stdout);
    return 0;
}

}  // namespace StationCommands
