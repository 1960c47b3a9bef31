#pragma once
// A page that runs an engine: a progress bar driven by the worker protocol and a "&Cancel"
// push button that asks the worker to stop.
#include <QProgressBar>
#include <QPushButton>
#include <memory>

#include "app/WizardPage.h"
#include "app/WorkerBridge.h"
#include "model/Outcome.h"

class QLabel;
class QTimer;
class QVBoxLayout;

class CProgressPage : public CWizardPropPage {
    Q_OBJECT
  public:
    explicit CProgressPage(int templateId, QWidget* parent = nullptr);
    QProgressBar* Bar() const { return m_progress; }
    // The bar at the end of a job: full only when it succeeded; after a failure or a Cancel
    // it stays where the job stopped, so that it never claims work that was not done.
    void ShowEnd(const v::Outcome& outcome);
    QPushButton* CancelButton() const { return m_cancel; }
    bool WorkerRunning() const;
    // The outcome of the last job started with StartJob, once its worker is done.
    const v::Outcome& Result() const { return *m_outcome; }

  public slots:
    // The worker protocol: 0 leaves the position or the range unchanged.
    void OnWorkerProgress(qulonglong position, qulonglong range);

  protected:
    void StartWorker(WorkerRunner::Job job);
    // Runs an engine that returns an outcome; Result() holds it once the worker is done.
    using OutcomeJob = std::function<v::Outcome(WizardState&, v::WorkerReport&, std::stop_token)>;
    void StartJob(OutcomeJob job);
    // Called once the engine has returned.
    virtual void OnWorkerDone() = 0;
    QVBoxLayout* Layout() const { return m_layout; }
    QLabel* Details() const { return m_details; }
    void ShowLatest();

  private:
    QLabel* m_now;
    QProgressBar* m_itemBar;
    QTimer* m_poll;
    QProgressBar* m_progress;
    QPushButton* m_cancel;
    QLabel* m_details;
    QVBoxLayout* m_layout;
    std::shared_ptr<WorkerBridge> m_bridge;
    std::shared_ptr<v::Outcome> m_outcome = std::make_shared<v::Outcome>();
};
