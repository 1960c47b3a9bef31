#include "GuiSupport.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/NodeTreeCtrl.h"
#include "app/Prompts.h"
#include "app/WorkerBridge.h"

namespace {
Prompts g_original;
}

ScriptedPrompts::ScriptedPrompts() {
    g_original = Prompts::Get();
    Prompts::Get().error = [this](QWidget*, const QString& text) { errors << text; };
    Prompts::Get().confirmCancel = [this](QWidget*) {
        ++confirmations;
        return confirmAnswer;
    };
    Prompts::Get().confirm = [this](QWidget*, const QString& question) {
        questions << question;
        return confirmAnswer;
    };
    Prompts::Get().openUrl = [this](const QUrl& url) {
        opened << url.toString();
        return true;
    };
    Prompts::Get().password = [this](QWidget*) -> std::optional<QString> {
        ++passwordPrompts;
        if (passwords.empty()) return std::nullopt;
        bool given = passwords.front().has_value();
        QString answer = passwords.front().value_or(QString());
        passwords.pop_front();
        if (!given) return std::nullopt;
        return answer;
    };
}

ScriptedPrompts::~ScriptedPrompts() {
    Prompts::Get() = g_original;
}

bool WaitForWorker(CWizard& wizard) {
    // Run the event loop (reports the worker sends are handled as they arrive) until the
    // worker has ended and its page has taken the end; give up after a generous while.
    for (int i = 0; i < 6000; ++i) {
        auto* page = wizard.Page(wizard.currentId());
        if (!wizard.Workers().Running() && page->WizardButtons() != kButtonsNone) return true;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return false;
}

void ClickCheckBox(CNodeTreeCtrl& tree, QTreeWidgetItem* item) {
    tree.scrollToItem(item);
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.CheckBoxRect(item).center());
}

QTreeWidgetItem* FindItem(CNodeTreeCtrl& tree, const QStringList& path) {
    QTreeWidgetItem* found = nullptr;
    for (int i = 0; i < tree.topLevelItemCount() && !found; ++i)
        if (tree.topLevelItem(i)->text(0) == path[0]) found = tree.topLevelItem(i);
    for (int depth = 1; found && depth < path.size(); ++depth) {
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < found->childCount() && !next; ++i)
            if (found->child(i)->text(0) == path[depth]) next = found->child(i);
        found = next;
    }
    return found;
}
