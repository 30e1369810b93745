#pragma once

#include <string>
#include <vector>

#include "storage/LogTrack.h"

// `tarsil check`: whether a storage file can be trusted as it is, and the repair that a
// writable open carries out.
namespace TarsilCheck {

// Exit codes of the check.
constexpr int Sound = 0;
constexpr int NeedsCorrection = 1;
constexpr int CannotOpen = 2;

// Opens FILE read-only (never changing a byte) and prints a line per finding.
int check(const std::string& path, bool json);
// Opens FILE for writing, which corrects and recovers it, and prints what the correction
// did (from the storage log), then checks the result.
int repair(const std::string& path, bool json);

// The lines of the storage log that tell what a correction did (journal undo, repairs,
// recovered entries): of the last open that repaired anything, or with `lastOpenOnly` of
// the last open at all (empty when it had nothing to repair).
std::vector<std::string> correctionLines(const std::vector<LogTrack::Message>& messages, bool lastOpenOnly);

}  // namespace TarsilCheck
