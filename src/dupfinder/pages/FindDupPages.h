#pragma once
// The pages of Find duplicated messages.
#include "app/ProgressPage.h"
#include "app/WizardPage.h"

class CPageFindDupInProgress : public CWizardPropPage {
    Q_OBJECT
  public:
    CPageFindDupInProgress();
    int nextId() const override { return kFindDupOptions; }
};

class CPageFindDupOptions : public CWizardPropPage {
    Q_OBJECT
  public:
    CPageFindDupOptions();
};

class CPageFindDupProcessing : public CWizardPropPage {
    Q_OBJECT
  public:
    CPageFindDupProcessing();
};

class CPageFindDupFinished : public CWizardPropPage {
    Q_OBJECT
  public:
    CPageFindDupFinished();

  protected:
    void OnInitDialog() override { SetWizardButtons(kButtonsFinish); }
};
