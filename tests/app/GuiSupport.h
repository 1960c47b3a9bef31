#pragma once
// Answers the wizard's modal questions in tests and drives it like a user.
#include <QString>
#include <QStringList>
#include <deque>
#include <optional>

#include "app/Wizard.h"

struct ScriptedPrompts {
    ScriptedPrompts();
    ~ScriptedPrompts();
    QStringList errors;         // every error message shown
    QStringList questions;      // every confirmation asked (other than leaving the wizard)
    bool confirmAnswer = true;  // the answer to "Are you sure ..."
    int confirmations = 0;
    std::deque<std::optional<QString>> passwords;  // answers to the password prompt, in order
    int passwordPrompts = 0;
    QStringList opened;  // pages opened in the browser (the user guide), none really opened
};

// Waits (with the event loop running) until the current page's worker has finished.
bool WaitForWorker(CWizard& wizard);
// Clicks a tree item's check box.
class CNodeTreeCtrl;
class QTreeWidgetItem;
void ClickCheckBox(CNodeTreeCtrl& tree, QTreeWidgetItem* item);
QTreeWidgetItem* FindItem(CNodeTreeCtrl& tree, const QStringList& path);
