#pragma once
// The wizard's modal questions in one place, so that tests can answer them.
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <utility>

class QWidget;
class QUrl;

struct Prompts {
    // An error message box with caption "Error".
    std::function<void(QWidget* parent, const QString& text)> error;
    // "Are you sure to exit the wizard?": true for Yes.
    std::function<bool(QWidget* parent)> confirmCancel;
    // A yes/no question with caption "Confirm" before a step that cannot be undone: true for
    // Yes.
    std::function<bool(QWidget* parent, const QString& question)> confirm;
    // The archive password; nothing when the user cancelled.
    std::function<std::optional<QString>(QWidget* parent)> password;

    // A message folder to move duplicates to: (identity id, folder id); nothing on Cancel.
    std::function<std::optional<std::pair<std::u16string, uint32_t>>(QWidget* parent)> selectFolder;
    // A line of text asked for (a new folder's name); nothing on Cancel.
    std::function<std::optional<QString>(QWidget* parent, const QString& label)> text;
    // Opens a page in the desktop's browser: false when it could not be opened.
    std::function<bool(const QUrl& url)> openUrl;

    static Prompts& Get();  // the installed prompts (the real dialogs by default)
};
