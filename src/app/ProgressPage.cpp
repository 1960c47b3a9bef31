#include "app/ProgressPage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QTimer>
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
    m_now = new QLabel(this);
    m_now->setObjectName(QStringLiteral("inProgress"));
    m_now->setTextFormat(Qt::PlainText);
    m_itemBar = new QProgressBar(this);
    m_itemBar->setObjectName(QStringLiteral("itemBar"));
    m_itemBar->setRange(0, 1000);
    m_itemBar->hide();
    m_poll = new QTimer(this);
    m_poll->setInterval(150);
    connect(m_poll, &QTimer::timeout, this, [this] { ShowLatest(); });
    auto* row = new QHBoxLayout;
    row->addWidget(m_progress, 1);
    row->addWidget(m_cancel);
    m_layout->addLayout(row);
    m_layout->addWidget(m_now);
    m_layout->addWidget(m_itemBar);
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

// The item in progress, and for a large one how far it has got: the main bar counts items,
// so a single 3 GB file would otherwise hold it still with nothing named.
void CProgressPage::ShowLatest() {
    if (!m_bridge) return;
    auto now = m_bridge->Latest();
    QString text = now.activity.isEmpty() ? QString() : QStringLiteral("Now: ") + now.activity;
    QLocale locale;
    if (now.largeItem) {
        QString done = locale.formattedDataSize(static_cast<qint64>(now.itemDone));
        text += now.itemTotal
                    ? QStringLiteral(" (%1 of %2)")
                          .arg(done, locale.formattedDataSize(static_cast<qint64>(now.itemTotal)))
                    : QStringLiteral(" (%1)").arg(done);
    }
    m_now->setText(m_now->fontMetrics().elidedText(text, Qt::ElideMiddle, m_now->width()));
    m_now->setToolTip(text);
    bool bar = now.largeItem && now.itemTotal != 0;
    if (bar)
        m_itemBar->setValue(static_cast<int>(
            std::min<uint64_t>(1000, now.itemDone * 1000 / std::max<uint64_t>(1, now.itemTotal))));
    m_itemBar->setVisible(bar);
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
            m_poll->stop();
            m_now->clear();
            m_itemBar->hide();
            OnWorkerDone();
        },
        Qt::QueuedConnection);
    m_poll->start();
    m_sheet->Workers().Start(m_bridge, std::move(job));
}
