#pragma once

#include <string>

#include "app/ui/ScheduleWizardResult.h"

// The checks and defaults of making a new schedule, as the station's clients fill them in:
// the site (name, address, port, user), the start point, the archiving hours and the
// storage group, either created with a number of storages of a size, or empty. Each
// refusal is one of the messages people know from the wizard. The two questions it asks
// (a second site of the same name, a group file that exists) count as answered No unless
// the caller says Yes. Stateless apart from its input.
class ScheduleWizard {
public:
    static constexpr int MinPort = 1501;
    static constexpr int MaxPort = 32001;
    static constexpr int MaxStorages = 100;
    static constexpr uint64_t MinStorageSize = 536870912;  // 0.5 GB
    static constexpr uint64_t GB = 1073741824;

    struct Input {
        std::string name;
        std::string address;
        int port = 10102;
        std::string username;
        std::string password;
        int startType = 1;
        DateTime startTime;
        bool alwaysArchive = true;
        Time archiveStart{0, 0, 0};
        Time archiveStop{23, 59, 59};
        bool overwrite = true;
        // Empty: "<name>.strgx" in the folder "<name>" of the storage folder.
        std::string groupFile;
        bool createStorages = true;
        int storageCount = 1;
        double storageSizeGB = 4;
        // The answers to the questions.
        bool continueWithSameName = false;
        bool overwriteGroupFile = false;
    };

    // What the checks decided: the result to make the schedule from, or the message.
    struct Verdict {
        std::string error;
        // The refusal is a question the caller may answer Yes to.
        bool question = false;
        ScheduleWizardResult result;
        bool ok() const { return error.empty(); }
    };

    // Runs every check in the wizard's order and, when all pass, creates the storage folder
    // (one level). `storageFolder` is the station's folder for new groups.
    static Verdict check(const Input& input, const std::string& storageFolder);
    // The port check alone, shared with later changes of the site: empty when allowed.
    static std::string portError(int port);
    // The checks of changed site settings: empty when they pass.
    static std::string siteError(const std::string& name, const std::string& address, int port,
                                 const std::string& username);
};
