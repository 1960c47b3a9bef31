#include "app/CommonPages.h"

#include <QDesktopServices>
#include <QUrl>
#include <QVBoxLayout>

QString DescribeProblems(const v::Outcome& outcome) {
    QStringList lines;
    if (outcome.failed) lines << QStringLiteral("Failed: ") + QString::fromStdString(outcome.error);
    for (const auto& line : v::ProblemLines(outcome))
        lines << QString::fromStdString((line.leftOut ? "Left out: " : "Note: ") + line.text);
    for (const auto& n : outcome.notes) lines << QString::fromStdString("Note: " + n);
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
    m_openFolder = new QPushButton(QStringLiteral("&Open folder"), this);
    m_openFolder->setObjectName(QStringLiteral("openFolder"));
    m_openFolder->hide();
    connect(m_openFolder, &QPushButton::clicked, this, [this] {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(m_folder)))
            ShowError(QStringLiteral("The folder %1 could not be opened: no file manager "
                                     "answered. Open it yourself to see the archive.")
                          .arg(m_folder));
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_details);
    layout->addWidget(m_openFolder, 0, Qt::AlignLeft);
}

void CFinishedPage::OfferFolder(const QString& folder) {
    m_folder = folder;
    m_openFolder->setVisible(!folder.isEmpty());
}

void CFinishedPage::ShowOutcome(const v::Outcome& o, const QString& cancelled,
                                const QString& failed, const QString& incomplete,
                                const QString& summary) {
    SetWizardButtons(kButtonsFinish);
    if (o.cancelled)
        setSubTitle(cancelled);
    else if (o.failed)
        setSubTitle(failed);
    else if (!o.problems.empty())
        setSubTitle(incomplete);
    // What was done comes first, then what was left out and why, then the notes.
    QString details = DescribeProblems(o);
    if (!summary.isEmpty()) details = details.isEmpty() ? summary : summary + "\n\n" + details;
    m_details->setVisible(!details.isEmpty());
    m_details->setPlainText(details);
}
