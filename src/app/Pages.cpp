#include "app/Pages.h"

#include "app/pages/BackupPages.h"
#include "app/pages/FindDupPages.h"
#include "app/pages/RestorePages.h"

CWizardPropPage* CreatePage(int id) {
    switch (id) {
        case kWelcome:
            return new CPageWelcome;
        case kBackupChooseOutput:
            return new CPageBackupChooseOutput;
        case kBackupChooseSource:
            return new CPageBackupChooseSource;
        case kBackupOptions:
            return new CPageBackupOptions;
        case kBackupReady:
            return new CPageBackupReady;
        case kBackupInProgress:
            return new CPageBackupInProgress;
        case kBackupFinished:
            return new CPageBackupFinished;
        case kRestoreChooseSource:
            return new CPageRestoreChooseSource;
        case kRestoreChooseDest:
            return new CPageRestoreChooseDest;
        case kRestoreChooseItems:
            return new CPageRestoreChooseItems;
        case kRestoreReady:
            return new CPageRestoreReady;
        case kRestoreInProgress:
            return new CPageRestoreInProgress;
        case kRestoreFinished:
            return new CPageRestoreFinished;
        case kTestChooseSource:
            return new CPageTestChooseSource;
        case kTestInProgress:
            return new CPageTestInProgress;
        case kFindDupInProgress:
            return new CPageFindDupInProgress;
        case kFindDupOptions:
            return new CPageFindDupOptions;
        case kFindDupProcessing:
            return new CPageFindDupProcessing;
        case kFindDupFinished:
            return new CPageFindDupFinished;
    }
    return new CPageWelcome;
}
