#pragma once
// The pages of Find duplicated messages: search, options, processing, finish.
#include <QLabel>
#include <QRadioButton>
#include <memory>

#include "app/NodeTreeCtrl.h"
#include "app/ProgressPage.h"
#include "app/WizardPage.h"
#include "backup/SourceTree.h"
#include "model/Outcome.h"

class CPageFindDupInProgress : public CProgressPage {
    Q_OBJECT
  public:
    CPageFindDupInProgress() : CProgressPage(kFindDupInProgress) {}
    int nextId() const override { return kFindDupOptions; }
    void OnSetActive() override;

  protected:
    void OnWorkerDone() override;
};

class CPageFindDupOptions : public CWizardPropPage {
    Q_OBJECT
  public:
    CPageFindDupOptions();
    void OnSetActive() override;
    bool validatePage() override;
    CNodeTreeCtrl* Tree() const { return m_tree; }
    QRadioButton* DeleteOption() const { return m_delete; }
    QRadioButton* MoveOption() const { return m_move; }

  protected:
    void OnInitDialog() override;

  private:
    std::unique_ptr<SourceTree> m_sources;
    CNodeTreeCtrl* m_tree;
    QRadioButton* m_delete;
    QRadioButton* m_move;
};

class CPageFindDupProcessing : public CProgressPage {
    Q_OBJECT
  public:
    CPageFindDupProcessing() : CProgressPage(kFindDupProcessing) {}

  protected:
    void OnInitDialog() override;
    void OnWorkerDone() override;
};

class CPageFindDupFinished : public CWizardPropPage {
    Q_OBJECT
  public:
    CPageFindDupFinished();
    QString Report() const { return m_report->text(); }

  protected:
    void OnInitDialog() override;

  private:
    QLabel* m_report;
};
