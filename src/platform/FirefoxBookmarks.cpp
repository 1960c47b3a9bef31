#include "platform/FirefoxBookmarks.h"

#include <sqlite3.h>

#include <ctime>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

namespace tindale::programs {

namespace {

using Json = nlohmann::ordered_json;

struct Row {
    long long id = 0, parent = 0, position = 0, dateAdded = 0, lastModified = 0;
    int type = 0;  // 1 bookmark, 2 folder, 3 separator
    std::string title, guid, url;
};

std::string Text(sqlite3_stmt* statement, int column) {
    auto* text = sqlite3_column_text(statement, column);
    return text ? reinterpret_cast<const char*>(text) : "";
}

std::optional<std::vector<Row>> ReadRows(const std::string& placesPath) {
    sqlite3* raw = nullptr;
    std::string uri = "file:" + placesPath + "?mode=ro";
    if (sqlite3_open_v2(uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(raw);
        return std::nullopt;
    }
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, sqlite3_close);
    sqlite3_busy_timeout(db.get(), 2000);
    const char* query =
        "SELECT b.id, b.type, b.parent, b.position, IFNULL(b.title, ''), b.guid, "
        "IFNULL(p.url, ''), IFNULL(b.dateAdded, 0), IFNULL(b.lastModified, 0) "
        "FROM moz_bookmarks b LEFT JOIN moz_places p ON p.id = b.fk "
        "ORDER BY b.parent, b.position";
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db.get(), query, -1, &statement, nullptr) != SQLITE_OK)
        return std::nullopt;
    std::vector<Row> rows;
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        Row row;
        row.id = sqlite3_column_int64(statement, 0);
        row.type = sqlite3_column_int(statement, 1);
        row.parent = sqlite3_column_int64(statement, 2);
        row.position = sqlite3_column_int64(statement, 3);
        row.title = Text(statement, 4);
        row.guid = Text(statement, 5);
        row.url = Text(statement, 6);
        row.dateAdded = sqlite3_column_int64(statement, 7);
        row.lastModified = sqlite3_column_int64(statement, 8);
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    if (step != SQLITE_DONE) return std::nullopt;
    return rows;
}

// The names Firefox's backups give its built-in folders.
const std::map<std::string, std::string> kRoots = {{"root________", "placesRoot"},
                                                   {"menu________", "bookmarksMenuFolder"},
                                                   {"toolbar_____", "toolbarFolder"},
                                                   {"tags________", "tagsFolder"},
                                                   {"unfiled_____", "unfiledBookmarksFolder"},
                                                   {"mobile______", "mobileFolder"}};

Json Node(const Row& row, const std::multimap<long long, const Row*>& children) {
    Json node = {{"guid", row.guid},
                 {"title", row.title},
                 {"index", row.position},
                 {"dateAdded", row.dateAdded},
                 {"lastModified", row.lastModified},
                 {"id", row.id},
                 {"typeCode", row.type}};
    if (row.type == 1) {
        node["type"] = "text/x-moz-place";
        node["uri"] = row.url;
        return node;
    }
    if (row.type == 3) {
        node["type"] = "text/x-moz-place-separator";
        return node;
    }
    node["type"] = "text/x-moz-place-container";
    if (auto root = kRoots.find(row.guid); root != kRoots.end()) node["root"] = root->second;
    Json list = Json::array();
    auto [from, to] = children.equal_range(row.id);
    for (auto it = from; it != to; ++it) list.push_back(Node(*it->second, children));
    node["children"] = std::move(list);
    return node;
}

}  // namespace

std::optional<FirefoxBookmarks> ReadFirefoxBookmarks(const std::string& placesPath) {
    auto rows = ReadRows(placesPath);
    if (!rows) return std::nullopt;
    std::multimap<long long, const Row*> children;
    const Row* root = nullptr;
    for (const auto& row : *rows) {
        if (row.guid == "root________")
            root = &row;
        else
            children.emplace(row.parent, &row);
    }
    if (!root) return std::nullopt;
    size_t bookmarks = 0;
    for (const auto& row : *rows) bookmarks += row.type == 1;
    return FirefoxBookmarks{Node(*root, children).dump(), bookmarks};
}

std::string FirefoxBookmarksBackupName(long long unixSeconds) {
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm day{};
    gmtime_r(&t, &day);
    char date[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &day);
    return "bookmarks-" + std::string(date) + ".json";
}

}  // namespace tindale::programs
