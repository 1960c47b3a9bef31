#include "app/Prompts.h"

#include <QMessageBox>

#include "app/PasswordDlg.h"

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
        [](QWidget* parent) -> std::optional<QString> {
            CPasswordDlg dialog(parent);
            if (dialog.exec() != QDialog::Accepted) return std::nullopt;
            return dialog.m_password;
        },
    };
    return prompts;
}
