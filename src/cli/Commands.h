#pragma once
#include <string>
#include <vector>

// Exit codes shared by every sub-command.
enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitWrongPassword = 3 };

struct BackupArgs {
    std::string archive;
    bool compress = false;
    bool encrypt = false;
    bool legacyEncryption = false;
    std::vector<std::string> sources;
    std::vector<std::string> excludes;
    std::string passwordFile;
    unsigned threads = 0;
};

struct RestoreArgs {
    std::string archive;
    std::string identity;
    bool clearIdentity = false;
    std::vector<std::string> items;
    std::string passwordFile;
};

struct DedupeArgs {
    bool remove = false;
    std::string moveTo;  // "IDENTITY/FOLDER/PATH"
    bool dryRun = false;
    std::vector<std::string> folders;  // "IDENTITY/FOLDER/PATH", with their subfolders
};

// With JSON on, results and outcomes are printed as JSON documents on stdout.
void SetJsonOutput(bool json);

int RunBackup(const BackupArgs& args);
int RunDedupe(const DedupeArgs& args);
int RunRestore(const RestoreArgs& args);
int RunTest(const std::string& archive, const std::string& passwordFile);
int RunList(const std::string& archive);
int RunSources();
int RunIdentityList();
int RunDemoProfile();
int RunIdentityAdd(const std::string& name, const std::string& store);
