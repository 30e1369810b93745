#include "app/group/StorageGroupFile.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

#include "app/group/JsonText.h"
#include "base/Exception.h"
#include "base/File.h"
#include "base/ParseException.h"
#include "base/TextOf.h"
#include "base/Trace.h"

namespace {

// A scalar member as text: strings as they are, numbers as written; a missing key or any
// other value reads as empty.
std::string memberText(const JsonText::Value& root, const char* key) {
    if (!root.is_object()) {
        return "";
    }
    auto member = root.find(key);
    if (member == root.end()) {
        return "";
    }
    if (member->is_string()) {
        return member->get<std::string>();
    }
    if (member->is_number()) {
        return member->dump();
    }
    return "";
}

// Leading decimal digits after optional blanks and a plus sign; text without digits
// gives 0, and a number beyond 32 bits the largest section ID rather than a wrapped one.
uint32_t decimalOf(const std::string& text) {
    size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos) {
        return 0;
    }
    if (text[i] == '+') {
        ++i;
    }
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > std::numeric_limits<uint32_t>::max()) {
            return std::numeric_limits<uint32_t>::max();
        }
    }
    return static_cast<uint32_t>(value);
}

std::optional<UniqueID> uniqueIDOf(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    try {
        return UniqueID(text.c_str());
    } catch (const ParseException&) {
        return std::nullopt;
    }
}

}  // namespace

StorageGroupFile::StorageGroupFile() = default;

StorageGroupFile::~StorageGroupFile() {
    closeQuietly();
}

void StorageGroupFile::closeQuietly() {
    try {
        close();
    } catch (const Exception& e) {  // the file is released all the same
        QF_TRACE("StorageGroupFile: closing %s: %s", _path.c_str(), e.describe().c_str());
    }
}

bool StorageGroupFile::create(const std::string& path, const UniqueID& repositoryID) {
    close();
    Contents contents;
    contents.version = VERSION;
    contents.repositoryID = ::textOf(repositoryID);
    std::string text = textOf(contents);
    if (!_file.create(path, text)) {
        return false;
    }
    _path = path;
    _contents = std::move(contents);
    _fileText = std::move(text);
    close();
    return true;
}

bool StorageGroupFile::load(const std::string& path) {
    closeQuietly();
    _path = path;
    _contents = Contents();
    _fileText.clear();
    try {
        if (!File::exists(path.c_str())) {
            return false;
        }
        _file.open(path);
        std::string bytes = _file.readAll(MAX_FILE_SIZE);
        Contents contents;
        if (parse(bytes, contents)) {
            _contents = std::move(contents);
            _fileText = std::move(bytes);
            return true;
        }
        QF_TRACE("StorageGroupFile: %s is no valid group file", path.c_str());
    } catch (const Exception& e) {
        QF_TRACE("StorageGroupFile: loading %s: %s", path.c_str(), e.describe().c_str());
    }
    _file.close();
    return false;
}

bool StorageGroupFile::read(const std::string& path) {
    closeQuietly();
    _path = path;
    _contents = Contents();
    _fileText.clear();
    try {
        if (!File::exists(path.c_str())) {
            return false;
        }
        File file;
        file.open(path.c_str(), File::Read);
        uint64_t size = file.size();
        if (size > MAX_FILE_SIZE) {
            return false;
        }
        std::string bytes(static_cast<size_t>(size), '\0');
        size_t done = 0;
        for (uint32_t count = 1; done < bytes.size() && count > 0; done += count) {
            count = file.read(bytes.data() + done, static_cast<uint32_t>(bytes.size() - done));
        }
        bytes.resize(done);
        Contents contents;
        if (parse(bytes, contents)) {
            _contents = std::move(contents);
            return true;
        }
        QF_TRACE("StorageGroupFile: %s is no valid group file", path.c_str());
    } catch (const Exception& e) {
        QF_TRACE("StorageGroupFile: reading %s: %s", path.c_str(), e.describe().c_str());
    }
    return false;
}

void StorageGroupFile::save() {
    if (!_file.isOpen()) {
        return;
    }
    std::string text = textOf(_contents);
    if (text == _fileText) {
        return;
    }
    // Unknown until the replace is through: a failure after its rename leaves the new text.
    _fileText.clear();
    _file.replace(text);
    _fileText = std::move(text);
}

void StorageGroupFile::close() {
    struct Release {
        ExclusiveFile& file;
        ~Release() { file.close(); }
    } release{_file};
    save();
}

template <typename Change>
void StorageGroupFile::change(Change apply) {
    Contents before = _contents;
    apply(_contents);
    try {
        save();
    } catch (...) {
        _contents = std::move(before);
        throw;
    }
}

void StorageGroupFile::addStorageFile(const std::string& path) {
    change([&](Contents& contents) { contents.storageFiles.push_back(path); });
}

bool StorageGroupFile::removeStorageFile(const std::string& path) {
    if (!containsStorageFile(path)) {
        return false;
    }
    change([&](Contents& contents) {
        auto& files = contents.storageFiles;
        files.erase(std::find(files.begin(), files.end(), path));
    });
    return true;
}

void StorageGroupFile::setLastStorageID(const UniqueID& storageID) {
    change([&](Contents& contents) { contents.lastStorageID = ::textOf(storageID); });
}

void StorageGroupFile::setLastRecordingSectionID(uint32_t sectionID) {
    change([&](Contents& contents) { contents.lastRecordingSectionID = sectionID; });
}

void StorageGroupFile::setLastRecording(const UniqueID& storageID, uint32_t sectionID) {
    change([&](Contents& contents) {
        contents.lastStorageID = ::textOf(storageID);
        contents.lastRecordingSectionID = sectionID;
    });
}

bool StorageGroupFile::containsStorageFile(const std::string& path) const {
    const auto& files = _contents.storageFiles;
    return std::find(files.begin(), files.end(), path) != files.end();
}

std::optional<UniqueID> StorageGroupFile::repositoryUniqueID() const {
    return uniqueIDOf(_contents.repositoryID);
}

std::optional<UniqueID> StorageGroupFile::lastStorageUniqueID() const {
    return uniqueIDOf(_contents.lastStorageID);
}

std::string StorageGroupFile::text() const {
    return textOf(_contents);
}

std::string StorageGroupFile::textOf(const Contents& contents) {
    char section[16];
    std::snprintf(section, sizeof section, "%u", contents.lastRecordingSectionID);
    JsonText::Value root = JsonText::Value::object();
    root[KEY_MAGIC] = MAGIC;
    root[KEY_VERSION] = contents.version;
    root[KEY_REPOSITORY_ID] = contents.repositoryID;
    root[KEY_LAST_STORAGE_ID] = contents.lastStorageID;
    root[KEY_LAST_RECORDING_SECTION_ID] = section;
    root[KEY_STORAGE_FILES] = JsonText::Value::array();
    for (const auto& file : contents.storageFiles) {
        root[KEY_STORAGE_FILES].push_back(file);
    }
    return JsonText::write(root);
}

bool StorageGroupFile::parse(const std::string& bytes, Contents& contents) {
    JsonText::Value root;
    if (!JsonText::read(bytes, root)) {
        return false;
    }
    if (memberText(root, KEY_MAGIC) != MAGIC) {
        return false;
    }
    Contents read;
    read.version = memberText(root, KEY_VERSION);
    read.repositoryID = memberText(root, KEY_REPOSITORY_ID);
    read.lastStorageID = memberText(root, KEY_LAST_STORAGE_ID);
    std::string section = memberText(root, KEY_LAST_RECORDING_SECTION_ID);
    if (read.version.empty() || read.repositoryID.empty() || section.empty()) {
        return false;
    }
    read.lastRecordingSectionID = decimalOf(section);
    auto files = root.find(KEY_STORAGE_FILES);
    if (files != root.end() && files->is_array()) {
        for (const auto& file : *files) {
            if (file.is_string()) {
                read.storageFiles.push_back(file.get<std::string>());
            }
        }
    }
    contents = std::move(read);
    return true;
}
