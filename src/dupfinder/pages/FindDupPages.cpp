#include "dupfinder/pages/FindDupPages.h"

CPageFindDupInProgress::CPageFindDupInProgress() : CWizardPropPage(kFindDupInProgress) {}
CPageFindDupOptions::CPageFindDupOptions() : CWizardPropPage(kFindDupOptions) {}
CPageFindDupProcessing::CPageFindDupProcessing() : CWizardPropPage(kFindDupProcessing) {}
CPageFindDupFinished::CPageFindDupFinished() : CWizardPropPage(kFindDupFinished) {}
