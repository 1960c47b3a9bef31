#pragma once
// The six pages of Backup: output file, sources, options, summary, progress, finish.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <memory>

#include "app/CommonPages.h"
#include "app/NodeTreeCtrl.h"
#include "app/PathChooser.h"
#include "app/ProgressPage.h"
#include "app/TreeFill.h"
#include "app/WizardPage.h"
#include "backup/SourceTree.h"
#include "model/Outcome.h"

class CPageBackupChooseOutput : public CWizardPropPage {
    Q_OBJECT
  public:
    CPageBackupChooseOutput();
    bool validatePage() override;
    PathChooser* Chooser() const { return m_path; }

  private:
    PathChooser* m_path;
};

class CPageBackupChooseSource : public CWizardPropPage {
    Q_OBJECT
  public:
    CPageBackupChooseSource();
    bool validatePage() override;
    CNodeTreeCtrl* Tree() const { return m_tree; }
    QListWidget* Items() const { return m_pane.items; }
    QLabel* ItemsNote() const { return m_pane.note; }

  protected:
    void OnInitDialog() override;

  private:
    void ShowItemsOf(QTreeWidgetItem* item);
    std::unique_ptr<SourceTree> m_sources;
    CNodeTreeCtrl* m_tree;
    ItemsPane m_pane;
    bool m_initialised = false;
};

class CPageBackupOptions : public CWizardPropPage {
    Q_OBJECT
  public:
    CPageBackupOptions();
    bool validatePage() override;
    QCheckBox* Compress() const { return m_compress; }
    QCheckBox* Quick() const { return m_quick; }
    QCheckBox* Encrypt() const { return m_encrypt; }
    QLineEdit* Password() const { return m_password; }
    QLineEdit* Again() const { return m_again; }
    QRadioButton* Legacy() const { return m_legacy; }
    // What the chosen compression costs, in time and size.
    QLabel* CostNote() const { return m_costNote; }
    // Where the programs' saved passwords and keys go with these choices.
    QLabel* SecretsNote() const { return m_secretsNote; }
    void OnSetActive() override { UpdateCostNote(); }

  private:
    void UpdatePasswordControls();
    void UpdateCostNote();
    void UpdateSecretsNote(bool sealed);
    QCheckBox* m_compress;
    QCheckBox* m_quick;
    QCheckBox* m_encrypt;
    QLabel* m_passwordLabel;
    QLabel* m_againLabel;
    QLineEdit* m_password;
    QLineEdit* m_again;
    QRadioButton* m_sealed;
    QRadioButton* m_legacy;
    QLabel* m_costNote;
    QLabel* m_secretsNote;
    QString m_shortPasswordAccepted;  // a short password the person chose to use anyway
};

class CPageBackupReady : public CSummaryPage {
    Q_OBJECT
  public:
    CPageBackupReady() : CSummaryPage(kBackupReady) {}

  protected:
    QString SummaryText() const override;
};

class CPageBackupInProgress : public CProgressPage {
    Q_OBJECT
  public:
    CPageBackupInProgress() : CProgressPage(kBackupInProgress) {}

  protected:
    void OnInitDialog() override;
    void OnWorkerDone() override;
};

class CPageBackupFinished : public CFinishedPage {
    Q_OBJECT
  public:
    CPageBackupFinished() : CFinishedPage(kBackupFinished) {}

  protected:
    void OnInitDialog() override;
};
