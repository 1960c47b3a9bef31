#pragma once
// Every page class of the wizard, and the factory that builds them in sheet order.
#include "app/WelcomePage.h"
#include "app/WizardPage.h"
#include "app/pages/RestorePages.h"

CWizardPropPage* CreatePage(int id);
