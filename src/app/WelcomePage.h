#pragma once
#include <QRadioButton>

#include "app/WizardPage.h"

// The first page: the four modes, About, Explorer and Help.
class CPageWelcome : public CWizardPropPage {
    Q_OBJECT
  public:
    explicit CPageWelcome(QWidget* parent = nullptr);
    int nextId() const override;
    // Checks the radio button of the mode whose first page is `firstPageId`.
    void SelectMode(int firstPageId);

  private:
    QRadioButton* m_backup;
    QRadioButton* m_restore;
    QRadioButton* m_test;
    QRadioButton* m_findDup;
};

// Opens a file that lives beside the executable with the desktop's opener; silent when missing.
void LaunchCompanion(const QString& fileName);
// The user guide's first page (installed, or in the sources for a build run from the tree);
// empty when it cannot be found.
QString UserGuidePath();
// Opens the user guide at `section` (an anchor of the guide; empty: its beginning), or says
// why it cannot.
void OpenUserGuide(QWidget* parent, const QString& section = {});
// The guide's section about a wizard page.
QString GuideSectionFor(int pageId);
// The Explorer's program, or empty when it cannot be found.
QString ExplorerProgram();
// Starts the Explorer; says so when it cannot.
bool StartExplorer(QWidget* parent);
