#pragma once
// The base of every wizard page: header title and subtitle, the sheet and the shared state,
// the wizard-button sets, and the cancel confirmation.
#include <QWizardPage>

#include "app/PageTable.h"
#include "app/WizardState.h"

class CWizard;

enum ButtonSet { kButtonsNone = 0, kButtonsNext = 2, kButtonsBackNext = 3, kButtonsFinish = 4 };

class CWizardPropPage : public QWizardPage {
    Q_OBJECT
  public:
    explicit CWizardPropPage(int templateId, QWidget* parent = nullptr);

    void Attach(CWizard* sheet, WizardState* state);
    int TemplateId() const { return m_templateId; }
    const PageInfo& Info() const { return InfoFor(m_templateId); }

    int nextId() const override;
    bool isComplete() const override;
    void initializePage() override;

    // Sets which wizard buttons are enabled: none, Next, Back and Next, or Finish.
    void SetWizardButtons(int set);
    int WizardButtons() const { return m_buttons; }
    // Applies the button set again after the wizard recomputed its buttons.
    void ApplyButtons();

    // Shows an error message box with caption "Error".
    void ShowError(const QString& text);

  protected:
    // Runs once, the first time the page is shown.
    virtual void OnInitDialog() {}

  public:
    // Runs every time the page becomes the current one.
    virtual void OnSetActive() {}

  protected:
    CWizard* m_sheet = nullptr;
    WizardState* m_state = nullptr;

  private:
    int m_templateId;
    int m_buttons = -1;  // -1: as the wizard decides
    bool m_initialised = false;
};
