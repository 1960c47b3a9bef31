#pragma once
// The pages of Restore and Test archive.
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <memory>

#include "app/CommonPages.h"
#include "app/NodeTreeCtrl.h"
#include "app/PathChooser.h"
#include "app/ProgressPage.h"
#include "app/TreeFill.h"
#include "app/WizardPage.h"
#include "model/Outcome.h"
#include "restore/ArchiveTest.h"
#include "restore/RecordTree.h"

class CPageRestoreChooseSource : public CWizardPropPage {
    Q_OBJECT
  public:
    CPageRestoreChooseSource();
    int nextId() const override { return kRestoreChooseDest; }
    bool validatePage() override;
    void SetPath(const QString& path) { m_path->SetPath(path); }
    PathChooser* Chooser() const { return m_path; }

  private:
    PathChooser* m_path;
};

class CPageTestChooseSource : public CWizardPropPage {
    Q_OBJECT
  public:
    CPageTestChooseSource();
    bool validatePage() override;
    PathChooser* Chooser() const { return m_path; }

  private:
    PathChooser* m_path;
};

class CPageRestoreChooseDest : public CWizardPropPage {
    Q_OBJECT
  public:
    CPageRestoreChooseDest();
    bool validatePage() override;
    QTreeWidget* Identities() const { return m_list; }
    QCheckBox* DeleteFirst() const { return m_clear; }
    QTreeWidget* Pairs() const { return m_pairs; }

  protected:
    void OnInitDialog() override;
    void OnSetActive() override;

  private:
    // With each identity to its own: which archived identity goes where, below the list, each
    // with a choice of another identity here.
    void ShowPairs();
    void FillPairs();

    QTreeWidget* m_list;
    QCheckBox* m_clear;
    QTreeWidget* m_pairs;
    std::vector<v::NodeRecord> m_archivedIdentities;
    std::u16string m_archive;  // the archive the choice was made for
};

class CPageRestoreChooseItems : public CWizardPropPage {
    Q_OBJECT
  public:
    CPageRestoreChooseItems();
    bool validatePage() override;
    CNodeTreeCtrl* Tree() const { return m_tree; }
    QListWidget* Items() const { return m_items; }
    QLabel* ItemsNote() const { return m_pane.note; }
    void OnSetActive() override;

  private:
    void Load();
    void AddChildren(const std::vector<RecordTree::Entry*>& entries, QTreeWidgetItem* parent);
    void ShowItemsOf(QTreeWidgetItem* item);
    RecordTree m_records;
    std::u16string m_loadedPath;  // the archive the tree shows
    CNodeTreeCtrl* m_tree;
    ItemsPane m_pane;
    QListWidget* m_items;
};

class CPageRestoreReady : public CSummaryPage {
    Q_OBJECT
  public:
    CPageRestoreReady();
    bool validatePage() override;
    // Finds the existing files the restore would replace, then shows the summary.
    void OnSetActive() override;
    QCheckBox* KeepNewer() const { return m_keepNewer; }

  protected:
    QString SummaryText() const override;

  private:
    std::vector<std::pair<QString, uint64_t>> Emptied() const;
    QCheckBox* m_keepNewer;
    v::RestorePlan m_plan;
};

class CPageRestoreInProgress : public CProgressPage {
    Q_OBJECT
  public:
    CPageRestoreInProgress() : CProgressPage(kRestoreInProgress) {}

  protected:
    void OnInitDialog() override;
    void OnWorkerDone() override;
};

class CPageRestoreFinished : public CFinishedPage {
    Q_OBJECT
  public:
    CPageRestoreFinished() : CFinishedPage(kRestoreFinished) {}

  protected:
    void OnInitDialog() override;
};

class CPageTestInProgress : public CProgressPage {
    Q_OBJECT
  public:
    CPageTestInProgress();
    const ArchiveTestResult& Result() const { return *m_result; }

  protected:
    void OnInitDialog() override;
    void OnWorkerDone() override;

  private:
    QString ShortVerdict() const;
    std::shared_ptr<ArchiveTestResult> m_result = std::make_shared<ArchiveTestResult>();
};
