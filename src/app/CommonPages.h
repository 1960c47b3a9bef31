#pragma once
// Page shapes that several modes share: a read-only summary before a run, and a last page
// that tells the truth about the run's outcome.
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/WizardPage.h"
#include "model/Outcome.h"

// What a job's outcome tells the user, one line per failure or item left out.
QString DescribeProblems(const v::Outcome& outcome);

class CSummaryPage : public CWizardPropPage {
    Q_OBJECT
  public:
    explicit CSummaryPage(int templateId);
    QString Summary() const { return m_summary->toPlainText(); }

    // Rebuilt on every visit: after Back and a change it shows the choices as they are now.
    void OnSetActive() override { m_summary->setPlainText(SummaryText()); }

  protected:
    virtual QString SummaryText() const = 0;
    static QString YesNo(bool b) { return b ? QStringLiteral("Yes") : QStringLiteral("No"); }

  private:
    QPlainTextEdit* m_summary;
};

class CFinishedPage : public CWizardPropPage {
    Q_OBJECT
  public:
    explicit CFinishedPage(int templateId);
    QString DetailsText() const { return m_details->toPlainText(); }
    QPushButton* OpenFolderButton() const { return m_openFolder; }

  protected:
    // Offers Finish; keeps the page's congratulation only for a clean run, and lists the rest.
    // `summary` says what was done (counts, the archive); it heads the details.
    void ShowOutcome(const v::Outcome& outcome, const QString& cancelled, const QString& failed,
                     const QString& incomplete, const QString& summary = {});
    // Offers a button that opens `folder` in the desktop's file manager.
    void OfferFolder(const QString& folder);

  private:
    QPlainTextEdit* m_details;
    QPushButton* m_openFolder;
    QString m_folder;
};
