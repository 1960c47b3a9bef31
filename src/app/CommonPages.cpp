#include "app/CommonPages.h"

#include <QVBoxLayout>

QString DescribeProblems(const v::Outcome& outcome) {
    QStringList lines;
    if (outcome.failed) lines << QStringLiteral("Failed: ") + QString::fromStdString(outcome.error);
    for (const auto& p : outcome.problems)
        lines << QString::fromStdString((p.leftOut ? "Left out: " : "Note: ") + p.item + ": " +
                                        p.reason);
    return lines.join(QLatin1Char('\n'));
}

CSummaryPage::CSummaryPage(int templateId)
    : CWizardPropPage(templateId), m_summary(new QPlainTextEdit(this)) {
    m_summary->setReadOnly(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
}

CFinishedPage::CFinishedPage(int templateId)
    : CWizardPropPage(templateId), m_details(new QPlainTextEdit(this)) {
    m_details->setObjectName(QStringLiteral("details"));
    m_details->setReadOnly(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_details);
}

void CFinishedPage::ShowOutcome(const v::Outcome& o, const QString& cancelled,
                                const QString& failed, const QString& incomplete) {
    SetWizardButtons(kButtonsFinish);
    if (o.cancelled)
        setSubTitle(cancelled);
    else if (o.failed)
        setSubTitle(failed);
    else if (!o.problems.empty())
        setSubTitle(incomplete);
    m_details->setVisible(!o.Clean());
    m_details->setPlainText(DescribeProblems(o));
}
