#include "app/WizardPage.h"

#include <QAbstractButton>

#include "app/Prompts.h"
#include "app/Wizard.h"

const PageInfo& InfoFor(int id) {
    for (const auto& p : kPages)
        if (p.id == id) return p;
    return kPages[0];
}

int DefaultNextId(int id) {
    switch (id) {
        case kBackupFinished:
        case kRestoreFinished:
        case kTestInProgress:
        case kFindDupFinished:
            return -1;
    }
    for (size_t i = 0; i + 1 < kPages.size(); ++i)
        if (kPages[i].id == id) return kPages[i + 1].id;
    return -1;
}

CWizardPropPage::CWizardPropPage(int templateId, QWidget* parent)
    : QWizardPage(parent), m_templateId(templateId) {
    setTitle(QString::fromUtf8(Info().title));
    setSubTitle(QString::fromUtf8(Info().subtitle));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);  // lists and trees use the room
}

void CWizardPropPage::Attach(CWizard* sheet, WizardState* state) {
    m_sheet = sheet;
    m_state = state;
}

int CWizardPropPage::nextId() const {
    return DefaultNextId(m_templateId);
}

bool CWizardPropPage::isComplete() const {
    return m_buttons == -1 || m_buttons == kButtonsNext || m_buttons == kButtonsBackNext ||
           m_buttons == kButtonsFinish;
}

void CWizardPropPage::initializePage() {
    if (m_initialised) return;
    m_initialised = true;
    OnInitDialog();
}

void CWizardPropPage::SetWizardButtons(int set) {
    m_buttons = set;
    emit completeChanged();  // the wizard recomputes Next/Finish from isComplete()
    ApplyButtons();
}

void CWizardPropPage::ApplyButtons() {
    if (!m_sheet || m_buttons == -1 || m_sheet->currentPage() != this) return;
    m_sheet->button(QWizard::BackButton)->setEnabled(m_buttons == kButtonsBackNext);
    m_sheet->button(QWizard::NextButton)
        ->setEnabled(m_buttons == kButtonsNext || m_buttons == kButtonsBackNext);
    m_sheet->button(QWizard::FinishButton)->setEnabled(m_buttons == kButtonsFinish);
}

void CWizardPropPage::ShowError(const QString& text) {
    Prompts::Get().error(this, text);
}
