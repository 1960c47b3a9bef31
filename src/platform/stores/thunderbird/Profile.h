#pragma once
// What every Thunderbird store shares: the profile that holds an account's folders, its
// lock, and the .msf summary files beside each folder.
#include <optional>
#include <string>

namespace tindale::store {

// Whether the Thunderbird profile that holds `storeRoot` (an account folder under
// PROFILE/Mail/) is open in a running Thunderbird; the profile's path when it is.
std::optional<std::string> RunningThunderbirdProfile(const std::string& storeRoot);
// The one-line reason a store in such a profile cannot be written now, or empty.
std::string ThunderbirdWriteRefusal(const std::string& storeRoot);
// Removes the summary (NAME.msf) of the folder at `folder`: Thunderbird's cache of the
// folder, rebuilt from the messages when the folder is next opened.
void DropThunderbirdSummary(const std::string& folder);

}  // namespace tindale::store
