#include "demo/DemoProfile.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "base/Text.h"
#include "platform/Identities.h"
#include "platform/Registry.h"
#include "platform/ShellFolders.h"

namespace fs = std::filesystem;
using namespace tindale;

namespace {

const char* kWords[] = {"meeting", "budget", "holiday", "report", "invoice", "project", "garden",
                        "concert", "review", "photos",  "dinner", "release", "backup",  "travel"};
const char* kPeople[] = {"Ann Example <ann@example.org>", "Bob Sample <bob@example.net>",
                         "Carla Demo <carla@example.com>", "Dev List <dev@lists.example.org>"};

void Write(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

class MailWriter {
  public:
    explicit MailWriter(std::mt19937& rng) : rng_(rng) {}

    std::string Message(int n, bool reply) {
        std::string subject = std::string(reply ? "Re: " : "") + kWords[rng_() % 14] + " " +
                              kWords[rng_() % 14] + " #" + std::to_string(n);
        int day = 1 + n % 28, hour = n % 24;
        char date[64];
        std::snprintf(date, sizeof date, "%02d Nov 2026 %02d:%02d:00 +0000", day, hour, n % 60);
        std::string body;
        for (int i = 0; i < 5 + static_cast<int>(rng_() % 30); ++i)
            body += std::string(kWords[rng_() % 14]) + (i % 9 == 8 ? "\n" : " ");
        return "Received: from mx.example.org by mail.example.org; " + std::string(date) +
               "\nFrom: " + kPeople[rng_() % 4] +
               "\nTo: Ann Example <ann@example.org>\nSubject: " + subject + "\nDate: " + date +
               "\nMessage-ID: <demo-" + std::to_string(n) +
               "@example.org>\nContent-Type: text/plain; charset=utf-8\n\n" + body + "\n";
    }

    // Writes `count` messages into a maildir; every `dupEvery`-th one is stored twice.
    void Fill(const fs::path& maildir, int count, int dupEvery, DemoProfileCounts& counts,
              bool sub) {
        for (auto s : {"cur", "new", "tmp"}) fs::create_directories(maildir / s);
        if (sub) Write(maildir / "maildirfolder", "");
        for (int i = 0; i < count; ++i) {
            std::string source = Message(next_++, i % 3 == 1);
            std::string name =
                std::to_string(1790000000 + next_) + ".M" + std::to_string(i) + "P1.demo";
            Write(maildir / "cur" / (name + ":2,S"), source);
            ++counts.messages;
            if (dupEvery && i % dupEvery == 0) {
                Write(maildir / "cur" / (name + "dup:2,S"), source);
                ++counts.messages;
                ++counts.duplicates;
            }
        }
    }

  private:
    std::mt19937& rng_;
    int next_ = 1;
};

void SetString(const char16_t* path, const char16_t* name, const char16_t* value) {
    reg::Key::Create(reg::kHkeyCurrentUser, path)->SetString(name, value);
}

void SetDword(const char16_t* path, const char16_t* name, uint32_t value) {
    uint8_t bytes[4];
    text::PutU32(bytes, value);
    reg::Key::Create(reg::kHkeyCurrentUser, path)->Set(name, reg::kRegDword, bytes);
}

void Settings() {
    reg::Transaction batch;
    SetString(u"Software\\Microsoft\\Outlook Express\\5.0", u"Store Root",
              u"%USERPROFILE%\\Maildir");
    SetDword(u"Software\\Microsoft\\Outlook Express\\5.0\\Mail", u"Check Mail Interval", 10);
    SetString(u"Software\\Microsoft\\Outlook Express\\5.0\\Mail", u"Signature", u"-- \nAnn");
    SetString(u"Software\\Microsoft\\Internet Explorer\\Main", u"Start Page",
              u"https://www.debian.org/");
    SetDword(u"Software\\Microsoft\\Internet Explorer\\Zoom", u"ZoomFactor", 100000);
    SetString(u"Software\\Microsoft\\Internet Explorer\\TypedURLs", u"url1",
              u"https://example.org/");
    uint8_t blob[] = {0xde, 0xad, 0xbe, 0xef, 0, 1, 2, 3};
    reg::Key::Create(reg::kHkeyCurrentUser, u"Software\\Microsoft\\Internet Explorer\\Main")
        ->Set(u"Window_Placement", reg::kRegBinary, blob);
}

// The programs' own files, laid out as Firefox and mutt keep them.
void Programs(const fs::path& home) {
    fs::path firefox = home / ".mozilla/firefox";
    Write(firefox / "profiles.ini",
          "[Profile0]\nName=default-esr\nIsRelative=1\nPath=demo1.default-esr\nDefault=1\n\n"
          "[General]\nStartWithLastProfile=1\nVersion=2\n");
    fs::path profile = firefox / "demo1.default-esr";
    Write(profile / "prefs.js",
          "user_pref(\"browser.startup.homepage\", \"https://www.debian.org/\");\n"
          "user_pref(\"browser.download.dir\", \"" +
              (home / "Downloads").string() + "\");\n");
    Write(profile / "logins.json", "{\"logins\":[]}");
    Write(profile / "bookmarkbackups/bookmarks-2026-12-01_5_demo.jsonlz4", "bookmarks");
    Write(profile / "cache2/entries/0A1B", "cached page");
    Write(home / ".muttrc",
          "set folder = \"" + (home / "Maildir").string() + "\"\nset mbox_type = Maildir\n");
}

}  // namespace

DemoProfileCounts CreateDemoProfile() {
    DemoProfileCounts counts;
    std::mt19937 rng(2026);
    MailWriter mail(rng);
    fs::path home = shell::HomeFolder();
    fs::path main = home / "Maildir";
    mail.Fill(main, 120, 12, counts, false);
    mail.Fill(main / ".Sent Items", 30, 0, counts, true);
    mail.Fill(main / ".Drafts", 3, 0, counts, true);
    mail.Fill(main / ".Trash", 10, 0, counts, true);
    mail.Fill(main / ".Work", 40, 8, counts, true);
    mail.Fill(main / ".Work.Projects", 25, 0, counts, true);
    mail.Fill(main / ".Work.Projects.2026", 10, 0, counts, true);
    mail.Fill(main / ".Lists.Debian", 50, 0, counts, true);
    fs::path archive = home / "Mail/archive";
    mail.Fill(archive, 40, 0, counts, false);
    mail.Fill(archive / ".Old Projects", 20, 0, counts, true);
    identities::Add(u"Main Identity", main.string());
    identities::Add(u"Archive 2019", archive.string());

    fs::path docs = shell::DocumentsFolder();
    Write(docs / "letter.txt", "Dear Bob,\n\nthe backup works.\n\nAnn\n");
    Write(docs / "notes.md", "# Notes\n\n- back up mail\n- test the archive\n");
    Write(docs / "Reports/2026-q3.csv", "month,total\njuly,10\naugust,12\nseptember,9\n");
    Write(docs / "Reports/summary.txt", std::string(20000, 'r'));
    std::string binary(60000, '\0');
    for (auto& c : binary) c = static_cast<char>(rng());
    Write(docs / "Photos/garden.jpg", binary);
    Write(home / "Contacts/bob.vcf",
          "BEGIN:VCARD\nVERSION:3.0\nFN:Bob Sample\nEMAIL:bob@example.net\nEND:VCARD\n");
    Write(home / "Contacts/carla.vcf", "BEGIN:VCARD\nVERSION:3.0\nFN:Carla Demo\nEND:VCARD\n");
    Write(home / "Favorites/Debian.url", "[InternetShortcut]\nURL=https://www.debian.org/\n");
    Write(home / "Favorites/Linux/Kernel.url", "[InternetShortcut]\nURL=https://kernel.org/\n");
    counts.files = 9;
    Settings();
    Programs(home);
    return counts;
}
