#pragma once
#include <QWizard>
#include <memory>
#include <vector>

#include "app/WizardPage.h"
#include "app/WizardState.h"

class WorkerRunner;

// The wizard sheet: every page of the four modes in sheet order, the shared state, the
// cancel confirmation, and the workers that pages start.
class CWizard : public QWizard {
    Q_OBJECT
  public:
    explicit CWizard(QWidget* parent = nullptr);
    ~CWizard() override;

    WizardState& State() { return m_state; }
    CWizardPropPage* Page(int id) const;
    // Opens restore step 1 with the archive path filled in; Back leads to the welcome page.
    void StartWithArchive(const QString& path);

    // Starts an engine on a worker thread; the wizard keeps it until it ends.
    WorkerRunner& Workers();
    // Asks "Are you sure to exit the wizard?"; true on Yes.
    bool ConfirmCancel();

  public slots:
    void reject() override;

  private:
    void OnPageChanged(int id);
    WizardState m_state;
    std::unique_ptr<WorkerRunner> m_workers;
};
