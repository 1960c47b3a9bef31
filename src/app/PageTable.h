#pragma once
// The wizard's pages in sheet order: template id (the page id), caption (the window title
// while the page is shown), header title and subtitle.
#include <array>

struct PageInfo {
    int id;
    const char* caption;
    const char* title;
    const char* subtitle;
};

enum PageId {
    kWelcome = 107,
    kBackupChooseSource = 108,
    kBackupChooseOutput = 109,
    kBackupOptions = 110,
    kBackupReady = 111,
    kBackupInProgress = 112,
    kBackupFinished = 113,
    kRestoreChooseSource = 114,
    kRestoreChooseDest = 115,
    kRestoreChooseItems = 116,
    kRestoreReady = 117,
    kRestoreInProgress = 118,
    kRestoreFinished = 119,
    kTestChooseSource = 120,
    kTestInProgress = 121,
    kFindDupInProgress = 122,
    kFindDupOptions = 123,
    kFindDupProcessing = 124,
    kFindDupFinished = 125,
};

inline constexpr std::array<PageInfo, 19> kPages = {{
    {kWelcome, "Welcome to Tindale", "Welcome to Tindale",
     "Please select an option to continue ..."},
    {kBackupChooseOutput, "Backup : Choose output archive",
     "Backup Step 1 : Indicate the output archive",
     "Please click Browse button to select an output archive filename"},
    {kBackupChooseSource, "Backup : Choose backup source", "Backup Step 2 : What to backup?",
     "Please select what to backup"},
    {kBackupOptions, "Backup : Options", "Backup Step 3 : Choose options for your backup",
     "Please choose your backup options below"},
    {kBackupReady, "Backup : Ready to backup", "Backup Step 4 : Ready to backup",
     "Please press Next button to start backup process"},
    {kBackupInProgress, "Backup : Backing up your messages ...",
     "Backup Step 5 : Backing up your messages ...", "Now backup is in progress, please wait ..."},
    {kBackupFinished, "Backup : Finished", "Backup Step 6 : Backup process has finished",
     "Congratulations, your archive has been backed up successfully!"},
    {kRestoreChooseSource, "Restore : Please choose your archive to restore",
     "Restore Step 1 : Please indicate your backed up archive file",
     "Click Browse button to select the archive file from your computer"},
    {kRestoreChooseDest, "Restore : Please select where is your messages should be restored",
     "Restore Step 2 : Select where to restore", "Please select a restore destination"},
    {kRestoreChooseItems, "Restore : Please choose messages to restore",
     "Restore Step 3 : Choose which items should be restored",
     "Please check one or more items to restore by clicking the check-box below"},
    {kRestoreReady, "Restore : Ready to restore", "Restore Step 4 : Ready to restore",
     "Please click Next button to start the restore process"},
    {kRestoreInProgress, "Restore : Restoring your messages ...",
     "Restore Step 5 : Restoring your archive ...", "Now restore is in progress, please wait ..."},
    {kRestoreFinished, "Restore : Finished", "Restore Step 6 : Restore progress has finished",
     "Congratulations, your archive has been restored successfully"},
    {kTestChooseSource, "Test : Please choose your archive to test",
     "Test Step 1 : Please indicated the backed up archive file",
     "Please click Browse button to select an archive file to test"},
    {kTestInProgress, "Test : Testing your archive ...", "Test Step 2 : Testing your archive ...",
     "Test is in progress, please wait ..."},
    {kFindDupInProgress, "Find duplicated messages : Search messages ...",
     "Find duplicated messages step 1 : Searching ...",
     "Please wait while the program is searching for duplicated messages ..."},
    {kFindDupOptions, "Find duplicated messages : Options for duplicated messages",
     "Find duplicated messages step 2 : Options", "Please select an option to continue ..."},
    {kFindDupProcessing, "Find duplicated messages : Processing duplicated messages ...",
     "Find duplicated messages step 3 : Processing duplicated messages ...", "Please waiting ..."},
    {kFindDupFinished, "Find duplicated messages : Finished",
     "Find duplicated messages step 4 : Finished",
     "Duplicated messages have been processed, press Finish butto to exit."},
}};

const PageInfo& InfoFor(int id);
// The page after `id` in sheet order; -1 for the last page of a mode.
int DefaultNextId(int id);
