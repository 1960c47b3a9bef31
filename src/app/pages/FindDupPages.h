#pragma once
// The pages of Find duplicated messages: search, options, processing, finish.
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <memory>

#include "app/NodeTreeCtrl.h"
#include "app/ProgressPage.h"
#include "app/WizardPage.h"
#include "backup/SourceTree.h"
#include "dupfinder/DuplicateSearch.h"
#include "model/Outcome.h"

class CPageFindDupInProgress : public CProgressPage {
    Q_OBJECT
  public:
    CPageFindDupInProgress() : CProgressPage(kFindDupInProgress) {}
    int nextId() const override { return kFindDupOptions; }
    void OnSetActive() override;

  protected:
    void OnWorkerDone() override;

  private:
    QString m_waiting;  // the subtitle while searching
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
    QListWidget* Review() const { return m_review; }

  protected:
    void OnInitDialog() override;

  private:
    // Lists the selected folder's copies: each message, the copy kept and the ones that go.
    void ShowCopiesOf(QTreeWidgetItem* item);
    std::vector<DuplicateEntry> Chosen() const;
    std::unique_ptr<SourceTree> m_sources;
    CNodeTreeCtrl* m_tree;
    QRadioButton* m_delete;
    QRadioButton* m_move;
    QListWidget* m_review;
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
