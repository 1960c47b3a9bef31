#include "support/ProgramProfiles.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

void MakeThunderbirdProfile(const TestHome& home, int messages) {
    const std::string tb = home / ".thunderbird";
    const std::string p = tb + "/abcd.default";
    WriteFile(tb + "/profiles.ini",
              "[Profile0]\nName=default\nIsRelative=1\nPath=abcd.default\n\n"
              "[General]\nStartWithLastProfile=1\nVersion=2\n");
    WriteFile(
        p + "/prefs.js",
        "// Mozilla User Preferences\n"
        "user_pref(\"mail.accountmanager.accounts\", \"account1,account2\");\n"
        "user_pref(\"mail.server.server1.directory\", \"" +
            p +
            "/Mail/127.0.0.1\");\n"
            "user_pref(\"mail.server.server1.directory-rel\", \"[ProfD]Mail/127.0.0.1\");\n"
            "user_pref(\"mail.server.server1.type\", \"pop3\");\n"
            "user_pref(\"mail.server.server2.directory-rel\", \"[ProfD]Mail/Local Folders\");\n"
            "user_pref(\"mail.server.server2.type\", \"none\");\n"
            "user_pref(\"mailnews.tags.projectx.tag\", \"Project X\");\n");
    for (const char* f : {"xulstore.json", "times.json", "compatibility.ini", "virtualFolders.dat",
                          "mailViews.dat", "folderTree.json", "session.json", "permissions.sqlite",
                          "calendar-data/local.sqlite", "extensions.json"})
        WriteFile(p + "/" + f, std::string("settings of ") + f);
    for (const char* f :
         {"logins.json", "logins.db", "key4.db", "cert9.db", "pkcs11.txt", "cookies.sqlite"})
        WriteFile(p + "/" + f, std::string("secret ") + f);
    for (const char* f : {"abook.sqlite", "history.sqlite"})
        WriteFile(p + "/" + f, std::string("contacts ") + f);
    for (const char* f :
         {"global-messages-db.sqlite", "places.sqlite", "favicons.sqlite", "abook.sqlite-wal",
          "cache2/entries/ABC", "startupCache/startupCache.8", "crashes/store.json.mozlz4",
          "datareporting/state.json", "settings/data/x.json", "security_state/data.safe.bin",
          "storage/default/x/idb/1.sqlite", "minidumps/a.dmp", "addonStartup.json.lz4",
          "Mail/127.0.0.1/Inbox.msf", "Mail/Local Folders/Trash.msf"})
        WriteFile(p + "/" + f, std::string("cache ") + f);
    WriteFile(p + "/Mail/127.0.0.1/popstate.dat",
              "# POP3 State File\n*127.0.0.1 ann\nk msg001 1796884000\n");
    WriteFile(p + "/Mail/127.0.0.1/msgFilterRules.dat",
              "version=\"9\"\nlogging=\"no\"\nname=\"Tag Project X\"\nenabled=\"yes\"\n"
              "type=\"17\"\naction=\"AddTag\"\nactionValue=\"projectx\"\n"
              "condition=\"AND (subject,contains,Message 1)\"\n");
    WriteFile(p + "/Mail/Local Folders/msgFilterRules.dat", "version=\"9\"\nlogging=\"no\"\n");
    WriteFile(p + "/Mail/Local Folders/Trash", "");
    std::string inbox;
    for (int i = 1; i <= messages; ++i)
        inbox +=
            "From - Thu Dec 10 06:38:00 2026\nX-Mozilla-Status: 0001\n"
            "X-Mozilla-Status2: 00000000\nFrom: Bob <bob@example.org>\nSubject: Message " +
            std::to_string(i) + "\nMessage-ID: <m" + std::to_string(i) + "@example.org>\n\nBody " +
            std::to_string(i) + "\n\n";
    WriteFile(p + "/Mail/127.0.0.1/Inbox", inbox);
    WriteFile(p + "/Mail/127.0.0.1/Trash", "");
}

void MakeFirefoxPlaces(const std::string& path) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    // The tables and columns of Firefox's places.sqlite that hold bookmarks, with the rows a
    // new profile has and one bookmark on the toolbar, and a visit (history).
    const char* sql = R"(
        CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR,
            visit_count INTEGER DEFAULT 0, guid TEXT);
        CREATE TABLE moz_bookmarks (id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER DEFAULT NULL,
            parent INTEGER, position INTEGER, title LONGVARCHAR, keyword_id INTEGER,
            folder_type TEXT, dateAdded INTEGER, lastModified INTEGER, guid TEXT);
        CREATE TABLE moz_historyvisits (id INTEGER PRIMARY KEY, place_id INTEGER,
            visit_date INTEGER);
        INSERT INTO moz_places VALUES (1, 'https://www.debian.org/', 'Debian', 3, 'p1');
        INSERT INTO moz_places VALUES (2, 'https://secret.example/visited', 'Visited', 9, 'p2');
        INSERT INTO moz_historyvisits VALUES (1, 2, 1796886482439000);
        INSERT INTO moz_bookmarks VALUES (1, 2, NULL, 0, 0, '', NULL, NULL, 1, 2, 'root________');
        INSERT INTO moz_bookmarks VALUES (2, 2, NULL, 1, 0, 'menu', NULL, NULL, 1, 2, 'menu________');
        INSERT INTO moz_bookmarks VALUES (3, 2, NULL, 1, 1, 'toolbar', NULL, NULL, 1, 2, 'toolbar_____');
        INSERT INTO moz_bookmarks VALUES (4, 2, NULL, 1, 2, 'tags', NULL, NULL, 1, 2, 'tags________');
        INSERT INTO moz_bookmarks VALUES (5, 2, NULL, 1, 3, 'unfiled', NULL, NULL, 1, 2, 'unfiled_____');
        INSERT INTO moz_bookmarks VALUES (6, 1, 1, 3, 0, 'Debian "home"', NULL, NULL, 5, 6, 'bm1');
        INSERT INTO moz_bookmarks VALUES (7, 3, NULL, 3, 1, NULL, NULL, NULL, 5, 6, 'sep1');
    )";
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

void MakeBrowserProfiles(const TestHome& home) {
    const std::string ff = home / ".mozilla/firefox";
    WriteFile(ff + "/profiles.ini",
              "[Install3B6073811A6ABF12]\nDefault=xyz9.default-esr\nLocked=1\n\n"
              "[Profile0]\nName=default-esr\nIsRelative=1\nPath=xyz9.default-esr\n\n"
              "[General]\nStartWithLastProfile=1\nVersion=2\n");
    WriteFile(ff + "/installs.ini", "[3B6073811A6ABF12]\nDefault=xyz9.default-esr\nLocked=1\n");
    const std::string p = ff + "/xyz9.default-esr";
    WriteFile(p + "/prefs.js",
              "user_pref(\"browser.startup.homepage\", \"https://example.org\");\n");
    MakeFirefoxPlaces(p + "/places.sqlite");
    for (const char* f :
         {"favicons.sqlite", "formhistory.sqlite", "sessionstore.jsonlz4", "logins.json", "key4.db",
          "cookies.sqlite", "cache2/doomed/x", "storage/default/y", "extensions/a@b.xpi",
          "bookmarkbackups/bookmarks-2026-12-10_3_abc.jsonlz4", "search.json.mozlz4",
          "xulstore.json"})
        WriteFile(p + "/" + f, std::string("firefox ") + f);
    const std::string ch = home / ".config/chromium";
    WriteFile(ch + "/Local State", "{\"profile\":{}}");
    for (const char* f : {"Preferences", "Bookmarks", "History", "Login Data", "Cookies",
                          "Cache/Cache_Data/index", "Code Cache/js/index"})
        WriteFile(ch + "/Default/" + f, std::string("chromium ") + f);
}
