#include "platform/stores/MessageState.h"

#include <algorithm>

namespace tindale::store {

std::string MessageState::CleanFlags(std::string_view flags) {
    std::string out;
    for (char c : flags)
        if (((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && out.find(c) == std::string::npos)
            out.push_back(c);
    std::sort(out.begin(), out.end());
    return out;
}

MessageState MessageState::Of(const std::string& path, const struct stat& st) {
    MessageState state;
    auto slash = path.find_last_of('/');
    std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    std::string folder = slash == std::string::npos ? "" : path.substr(0, slash);
    state.inNew = folder == "new" || (folder.size() > 4 && folder.ends_with("/new"));
    if (auto info = name.find(":2,"); info != std::string::npos)
        state.flags = CleanFlags(std::string_view(name).substr(info + 3));
    state.fileName = name.substr(0, name.find(':'));
    state.arrivalSeconds = st.st_mtim.tv_sec;
    state.arrivalNanos = static_cast<uint32_t>(st.st_mtim.tv_nsec);
    state.known = true;
    return state;
}

std::string MessageState::RelativeName(const std::string& unique) const {
    if (!known) return "new/" + unique;
    std::string clean = CleanFlags(flags);
    if (inNew) return "new/" + unique + (clean.empty() ? "" : ":2," + clean);
    return "cur/" + unique + ":2," + clean;
}

bool MessageState::UsableFileName(std::string_view name) {
    if (name.empty() || name.size() > 200 || name[0] == '.') return false;
    return name.find_first_of(std::string_view("/:\0", 3)) == std::string_view::npos;
}

}  // namespace tindale::store
