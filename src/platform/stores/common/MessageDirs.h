#pragma once
// Folders kept as directories of message files with cur/, new/ and tmp/ (the Maildir
// family, and Thunderbird's file-per-message store): making them, naming new message
// files, and checking that a write stays inside the store.
#include <string>

namespace tindale::store {

// Whether `dir` has cur/ and new/ (not following links).
bool IsMaildir(const std::string& dir);
// Creates `dir` with cur/, new/ and tmp/ (and an empty maildirfolder file for a Maildir++
// subfolder) when missing; whether they are all there now.
bool EnsureMaildir(const std::string& dir, bool isSubfolder);
// A file name no other message of any maildir has: "<seconds>.M<usec>P<pid>Q<count>.<host>".
std::string NewUniqueName();
// Removes this program's message temporaries in `tmp` that no live writer holds (each is
// locked while it is written): what a killed restore or move left behind.
void RemoveStaleTemporaries(const std::string& tmp);
// Creates `dir` when missing; whether it is a directory now.
bool EnsureDirectory(const std::string& dir);
// The same, making up to `levels` missing folders above it (a Thunderbird profile's lost
// "Mail" folder), never more: a store whose place is gone altogether is not made anew.
bool EnsureDirectoryBelow(const std::string& dir, int levels);
// Creates the folders between `root` and `path` (below `root`, not `path` itself); whether
// they are all real directories now (none of them a link).
bool MakeParentsBelow(const std::string& root, const std::string& path);
// Whether `path` resolves to a place inside `root` (following links as a write would).
bool ResolvesInside(const std::string& path, const std::string& root);

}  // namespace tindale::store
