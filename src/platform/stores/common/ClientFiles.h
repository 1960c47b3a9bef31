#pragma once
// Files that mail clients keep inside a folder's directory beside its messages: sync state
// (mbsync's ".mbsyncstate"), tables that give the messages their UIDs and keyword names
// (".uidvalidity", "dovecot-uidlist", "dovecot-keywords", Courier's "courierimapuiddb"), and
// the store's subscriptions (Dovecot's "subscriptions", Courier's "courierimapsubscribed",
// in the root maildir). They describe the mail beside them, so they travel with their folder
// and come back only where that mail comes back. Indexes and caches ("dovecot.index*") are
// not among them: their clients rebuild them.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tindale::store {

enum class ClientFileRole {
    Table,          // restored into a folder that holds no messages, never over a file
    SyncState,      // as a table, and only once the folder's messages are all back
    Subscriptions,  // a list of folder names, merged with the one there
};

// The role of a file of this name, or none for a file that is no client's state.
std::optional<ClientFileRole> ClientFileRoleOf(std::string_view name);
// The client files in the directory `dir` (regular files only, never links), by name.
std::vector<std::string> ListClientFiles(const std::string& dir);
// Writes the client file `name` into `dir`: a list of subscriptions is merged with the one
// there, any other file is written only where none of that name is (never replaced).
// 0, EEXIST when the file was there already, else an errno value.
int PutClientFile(const std::string& dir, const std::string& name, std::string_view content);
// The lines of two subscription lists, each once, in the order of `existing` then `added`
// (a Dovecot list's "V\t2" header kept once, at the top).
std::string MergeSubscriptions(std::string_view existing, std::string_view added);

}  // namespace tindale::store
