#pragma once
// The sub-commands of tindale-cli, one file each; they print through `out`.
#include <string>
#include <vector>

#include "cli/Output.h"

struct BackupArgs {
    std::string archive;
    bool compress = false;
    bool encrypt = false;
    bool legacyEncryption = false;
    bool quick = false;
    std::vector<std::string> sources;
    std::vector<std::string> excludes;
    std::string passwordFile;
    unsigned threads = 0;
    bool withHistory = false;  // the browsers' history parts too
    bool withSecrets = false;  // the programs' saved passwords and keys too (sealed only)
};

struct RestoreArgs {
    std::string archive;
    std::string identity;
    bool clearIdentity = false;
    std::vector<std::string> items;
    std::string passwordFile;
    bool keepNewer = false;
};

struct DedupeArgs {
    bool remove = false;
    std::string moveTo;  // "IDENTITY/FOLDER/PATH"
    bool dryRun = false;
    std::vector<std::string> folders;  // "IDENTITY/FOLDER/PATH", with their subfolders
};

struct ExtractArgs {
    std::string archive;
    std::vector<std::string> items;
    std::string to;
    std::string mailAs = "eml";
    bool overwrite = false;
    std::string passwordFile;
};

int RunBackup(const BackupArgs& args, const Output& out);
int RunExtract(const ExtractArgs& args, const Output& out);
int RunCat(const std::string& archive, const std::string& item, const std::string& passwordFile);
int RunDedupe(const DedupeArgs& args, const Output& out);
int RunRestore(const RestoreArgs& args, const Output& out);
int RunTest(const std::string& archive, const std::string& passwordFile, const Output& out);
int RunList(const std::string& archive, const Output& out);
int RunSources(const Output& out);
int RunIdentityList(const Output& out);
int RunDemoProfile();
int RunIdentityAdd(const std::string& name, const std::string& store, const std::string& kind);
// Registers an IMAP account as an identity once it has logged in and listed its folders.
int RunIdentityAddImap(const std::string& name, const std::string& url);
