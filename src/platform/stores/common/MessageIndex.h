#pragma once
// The messages of one folder kept as a directory of message files, listed once: every file
// of cur/ and new/ with its persistent id. Ids are kept in an id map of this program's (see
// StoreBooks), keyed by the unique part of the file name (before ":"), so that another
// client's flag rename keeps the id; a second file with the same unique part is keyed by
// its full name, so that one id always names exactly one file.
// The map is read and repaired once when the index is loaded and written back once for a
// batch of changes (Save), not once per message.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/IdMap.h"
#include "platform/MessageFiles.h"

namespace tindale::store {

class MessageIndex {
  public:
    // `idsPath`: the id map; `lockPath`: the file whose lock guards it.
    MessageIndex(std::string maildir, std::string idsPath, std::string lockPath)
        : dir_(std::move(maildir)), idsPath_(std::move(idsPath)), lockPath_(std::move(lockPath)) {}

    // Lists cur/ and new/ and gives each file its id; the map is repaired and saved when
    // it named files that are gone or lacked files that are there. Called again, it sees
    // what other clients changed meanwhile (after saving what this index gave out).
    void Load();
    // Message files by id: paths relative to the maildir ("cur/NAME" or "new/NAME").
    const MessageFiles& Files() const { return files_; }
    // Symbolic links the last Load found in cur/ and new/ ("cur/NAME"): left out.
    const std::vector<std::string>& Links() const { return links_; }
    std::optional<std::string> PathOf(uint32_t id) const;
    // The file whose name's unique part (before ":") is `unique`, relative to the maildir.
    std::optional<std::string> FileNamed(std::string_view unique) const;
    // Records a message just published as `relative` (in new/) and returns its id.
    uint32_t Add(const std::string& relative);
    void Remove(uint32_t id);
    // Records that message `id` was renamed (its flags changed); it keeps its id.
    void Moved(uint32_t id, const std::string& relative);
    // Writes the id map when it changed, merging what another writer saved meanwhile.
    // 0 on success, else an errno value.
    int Save();
    bool Dirty() const { return dirty_; }
    bool Loaded() const { return loaded_; }
    const std::string& Directory() const { return dir_; }

  private:
    std::optional<std::string> KeyOf(uint32_t id) const;
    std::string dir_;
    std::string idsPath_;
    std::string lockPath_;
    IdMap ids_;
    MessageFiles files_;
    std::vector<std::string> links_;
    bool dirty_ = false;
    bool loaded_ = false;
};

// Lists the names in a directory that may be message files (not hidden, not directories).
std::vector<std::string> ListMessageFiles(const std::string& dir);
// `link`, when given, hears of the symbolic links among them, which are never messages.
void ForEachMessageFile(const std::string& dir, const std::function<void(const char*)>& visit,
                        const std::function<void(const char*)>& link = {});

}  // namespace tindale::store
