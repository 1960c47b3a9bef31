#include "app/Prompts.h"

#include <QDesktopServices>
#include <QInputDialog>
#include <QLineEdit>
#include <QUrl>

#include <QMessageBox>

#include "app/PasswordDlg.h"
#include "app/SelFolderDlg.h"

Prompts& Prompts::Get() {
    static Prompts prompts{
        [](QWidget* parent, const QString& text) {
            QMessageBox::critical(parent, QStringLiteral("Error"), text);
        },
        [](QWidget* parent) {
            return QMessageBox::question(parent, QStringLiteral("Confirm"),
                                         QStringLiteral("Are you sure to exit the wizard?"),
                                         QMessageBox::Yes | QMessageBox::No,
                                         QMessageBox::No) == QMessageBox::Yes;
        },
        [](QWidget* parent, const QString& question) {
            return QMessageBox::question(parent, QStringLiteral("Confirm"), question,
                                         QMessageBox::Yes | QMessageBox::No,
                                         QMessageBox::No) == QMessageBox::Yes;
        },
        [](QWidget* parent) -> std::optional<QString> {
            CPasswordDlg dialog(parent);
            if (dialog.exec() != QDialog::Accepted) return std::nullopt;
            return dialog.m_password;
        },
        [](QWidget* parent) -> std::optional<std::pair<std::u16string, uint32_t>> {
            CSelFolderDlg dialog(parent);
            if (dialog.exec() != QDialog::Accepted) return std::nullopt;
            return dialog.Selection();
        },
        [](QWidget* parent, const QString& label) -> std::optional<QString> {
            bool ok = false;
            QString text = QInputDialog::getText(parent, QStringLiteral("Tindale"), label,
                                                 QLineEdit::Normal, QString(), &ok);
            if (!ok) return std::nullopt;
            return text;
        },
        [](const QUrl& url) { return QDesktopServices::openUrl(url); },
    };
    return prompts;
}
