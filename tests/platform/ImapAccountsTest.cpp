#include <gtest/gtest.h>

#include <algorithm>

#include "base/Text.h"
#include "platform/StoreDiscovery.h"
#include "platform/stores/imap/ImapAccount.h"
#include "platform/stores/imap/ImapConnection.h"
#include "platform/stores/imap/ServerCertificate.h"
#include "support/TestHome.h"

using namespace tindale;
using store::ImapAccount;
using store::ImapSecurity;

TEST(ImapAccountTest, UrlsParseAndComeBackTheSame) {
    auto tls = ImapAccount::Parse("imaps://me%40example.org@mail.example.org");
    ASSERT_TRUE(tls);
    EXPECT_EQ(tls->user, "me@example.org");
    EXPECT_EQ(tls->host, "mail.example.org");
    EXPECT_EQ(tls->port, 993);
    EXPECT_EQ(tls->security, ImapSecurity::Tls);
    EXPECT_EQ(tls->Url(), "imaps://me%40example.org@mail.example.org:993");
    EXPECT_EQ(ImapAccount::Parse(tls->Url())->Url(), tls->Url());

    auto starttls = ImapAccount::Parse("imap://bob@[::1]:1143/");
    ASSERT_TRUE(starttls);
    EXPECT_EQ(starttls->security, ImapSecurity::StartTls);
    EXPECT_EQ(starttls->host, "::1");
    EXPECT_EQ(starttls->port, 1143);
    EXPECT_EQ(starttls->Url(), "imap://bob@[::1]:1143");
    EXPECT_EQ(ImapAccount::Parse("imap://bob@host")->port, 143);

    for (const char* bad : {"imaps://host", "imaps://@host", "imaps://me@", "imaps://me@host:0",
                            "imaps://me@host:99999", "imaps://me@host:12x", "imaps://me%4@host",
                            "imaps://me@ho st", "pop3://me@host", "/home/me/Maildir",
                            "imap://bob@x]:143", "imap://bob@[::1x]", "imap://bob@h:o:143"})
        EXPECT_FALSE(ImapAccount::Parse(bad)) << bad;
}

TEST(ImapAccountTest, OnlyThisComputerIsLoopback) {
    for (const char* host : {"127.0.0.1", "127.8.9.10", "::1", "localhost"})
        EXPECT_TRUE(ImapAccount::Parse(std::string("imap://u@") +
                                       (std::string(host) == "::1" ? "[::1]" : host))
                        ->OnLoopback())
            << host;
    for (const char* host : {"128.0.0.1", "10.0.0.1", "localhost.example.org", "[::2]"})
        EXPECT_FALSE(ImapAccount::Parse(std::string("imap://u@") + host)->OnLoopback()) << host;
}

TEST(ImapAccountTest, MailboxNamesTravelInModifiedUtf7) {
    EXPECT_EQ(store::ImapConnection::ToWire("Entwürfe & Co"), "Entw&APw-rfe &- Co");
    EXPECT_EQ(store::ImapConnection::FromWire("Entw&APw-rfe &- Co"), "Entwürfe & Co");
    EXPECT_EQ(store::ImapConnection::FromWire("INBOX"), "INBOX");
    EXPECT_EQ(store::ImapConnection::ToWire("日本語"), "&ZeVnLIqe-");
}

TEST(ImapAccountTest, AChainThatIsNoCertificateIsNotTrusted) {
    EXPECT_NE(store::CheckServerCertificate({}, "example.org"), "");
    EXPECT_NE(store::CheckServerCertificate({"not a certificate"}, "example.org"), "");
}

TEST(ImapAccountTest, MailProgramsImapAccountsAreFound) {
    TestHome home;
    WriteFile(home / ".thunderbird/profiles.ini",
              "[Profile0]\nName=default\nIsRelative=1\nPath=p.default\nDefault=1\n");
    WriteFile(home / ".thunderbird/p.default/prefs.js",
              "user_pref(\"mail.server.server2.type\", \"imap\");\n"
              "user_pref(\"mail.server.server2.hostname\", \"imap.example.org\");\n"
              "user_pref(\"mail.server.server2.userName\", \"me@example.org\");\n"
              "user_pref(\"mail.server.server2.socketType\", 3);\n"
              "user_pref(\"mail.server.server2.name\", \"Work mail\");\n"
              "user_pref(\"mail.server.server3.type\", \"imap\");\n"
              "user_pref(\"mail.server.server3.hostname\", \"old.example.org\");\n"
              "user_pref(\"mail.server.server3.userName\", \"me\");\n"
              "user_pref(\"mail.server.server3.port\", 1143);\n"
              "user_pref(\"mail.server.server4.type\", \"pop3\");\n"
              "user_pref(\"mail.server.server4.hostname\", \"pop.example.org\");\n"
              "user_pref(\"mail.server.server4.userName\", \"me\");\n");
    WriteFile(home / ".config/evolution/sources/1234.source",
              "[Data Source]\nDisplayName=Home\nEnabled=true\n\n[Mail Account]\n"
              "BackendName=imapx\n\n[Authentication]\nHost=mail.home.example\nPort=993\n"
              "User=alice\n\n[Security]\nMethod=ssl-on-alternate-port\n");
    WriteFile(home / ".config/evolution/sources/5678.source",
              "[Data Source]\nDisplayName=On This Computer\n\n[Mail Account]\n"
              "BackendName=maildir\n");
    WriteFile(home / ".config/akonadi_imap_resource_0rc",
              "[network]\nImapServer=kde.example.org\nImapPort=143\nSafety=STARTTLS\n"
              "UserName=carol\n");
    std::vector<std::pair<std::string, std::string>> imap;
    for (const auto& found : identities::FindLocalStores())
        if (found.kind == store::StoreKind::Imap)
            imap.emplace_back(text::ToUtf8(found.name), found.root);
    std::sort(imap.begin(), imap.end());
    std::vector<std::pair<std::string, std::string>> expected{
        {"Evolution - Home", "imaps://alice@mail.home.example:993"},
        {"KMail - kde.example.org", "imap://carol@kde.example.org:143"},
        {"Thunderbird - Work mail", "imaps://me%40example.org@imap.example.org:993"},
        {"Thunderbird - old.example.org", "imap://me@old.example.org:1143"}};
    EXPECT_EQ(imap, expected);
}
