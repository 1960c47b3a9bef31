#include "app/ProgressPage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/Wizard.h"

CProgressPage::CProgressPage(int templateId, QWidget* parent)
    : CWizardPropPage(templateId, parent) {
    m_layout = new QVBoxLayout(this);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancelWorker"));
    m_details = new QLabel(this);
    m_details->setWordWrap(true);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* row = new QHBoxLayout;
    row->addWidget(m_progress, 1);
    row->addWidget(m_cancel);
    m_layout->addLayout(row);
    m_layout->addWidget(m_details);
    m_layout->addStretch(1);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_sheet) m_sheet->Workers().RequestStop();
        m_cancel->setEnabled(false);
    });
}

bool CProgressPage::WorkerRunning() const {
    return m_sheet && m_sheet->Workers().Running();
}

void CProgressPage::OnWorkerProgress(qulonglong position, qulonglong range) {
    if (range != 0)
        m_progress->setRange(0, static_cast<int>(std::min<qulonglong>(range, INT32_MAX)));
    if (position != 0)
        m_progress->setValue(static_cast<int>(std::min<qulonglong>(position, INT32_MAX)));
}

void CProgressPage::ShowEnd(const v::Outcome& outcome) {
    if (!outcome.cancelled && !outcome.failed) m_progress->setValue(m_progress->maximum());
}

void CProgressPage::StartJob(OutcomeJob job) {
    auto outcome = m_outcome;
    WizardState* state = m_state;
    StartWorker(
        [outcome, state, job = std::move(job)](v::WorkerReport& report, std::stop_token stop) {
            *outcome = job(*state, report, stop);
        });
}

void CProgressPage::StartWorker(WorkerRunner::Job job) {
    SetWizardButtons(kButtonsNone);
    m_cancel->setEnabled(true);
    m_bridge = std::make_shared<WorkerBridge>();
    connect(m_bridge.get(), &WorkerBridge::progress, this, &CProgressPage::OnWorkerProgress,
            Qt::QueuedConnection);
    connect(m_bridge.get(), &WorkerBridge::progressSent, this, &CProgressPage::OnWorkerProgress,
            Qt::BlockingQueuedConnection);
    connect(
        m_bridge.get(), &WorkerBridge::finished, this,
        [this] {
            m_cancel->setEnabled(false);  // nothing is left to cancel
            OnWorkerDone();
        },
        Qt::QueuedConnection);
    m_sheet->Workers().Start(m_bridge, std::move(job));
}
