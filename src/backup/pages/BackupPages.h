#pragma once
// The six pages of Backup: output file, sources, options, summary, progress, finish.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <memory>

#include "app/NodeTreeCtrl.h"
#include "app/PathChooser.h"
#include "app/ProgressPage.h"
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
    QListWidget* Items() const { return m_items; }

  protected:
    void OnInitDialog() override;

  private:
    std::unique_ptr<SourceTree> m_sources;
    CNodeTreeCtrl* m_tree;
    QListWidget* m_items;
    bool m_initialised = false;
};

class CPageBackupOptions : public CWizardPropPage {
    Q_OBJECT
  public:
    CPageBackupOptions();
    bool validatePage() override;
    QCheckBox* Compress() const { return m_compress; }
    QCheckBox* Encrypt() const { return m_encrypt; }
    QLineEdit* Password() const { return m_password; }
    QLineEdit* Again() const { return m_again; }

  private:
    void UpdatePasswordControls();
    QCheckBox* m_compress;
    QCheckBox* m_encrypt;
    QLabel* m_passwordLabel;
    QLabel* m_againLabel;
    QLineEdit* m_password;
    QLineEdit* m_again;
};

class CPageBackupReady : public CWizardPropPage {
    Q_OBJECT
  public:
    CPageBackupReady();
    QString Summary() const { return m_summary->toPlainText(); }

  protected:
    void OnInitDialog() override;

  private:
    QPlainTextEdit* m_summary;
};

class CPageBackupInProgress : public CProgressPage {
    Q_OBJECT
  public:
    CPageBackupInProgress();
    const v::Outcome& Result() const { return *m_outcome; }

  protected:
    void OnInitDialog() override;
    void OnWorkerDone() override;

  private:
    std::shared_ptr<v::Outcome> m_outcome = std::make_shared<v::Outcome>();
};

class CPageBackupFinished : public CWizardPropPage {
    Q_OBJECT
  public:
    CPageBackupFinished();
    QString DetailsText() const { return m_details->toPlainText(); }

  protected:
    void OnInitDialog() override;

  private:
    QPlainTextEdit* m_details;
};

// What a job's outcome tells the user, one line per item left out.
QString DescribeProblems(const v::Outcome& outcome);
