#include "app/PasswordDlg.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

CPasswordDlg::CPasswordDlg(QWidget* parent) : QDialog(parent), m_edit(new QLineEdit) {
    setWindowTitle(QStringLiteral("Please enter the password"));
    auto* group = new QGroupBox(QStringLiteral("Password:"), this);
    auto* text = new QLabel(
        QStringLiteral("Your archive file has been encrypted, you need to enter the password to "
                       "decrypt it, please enter your password in the edit-box below and press "
                       "OK when you are ready."),
        group);
    text->setWordWrap(true);
    m_edit->setEchoMode(QLineEdit::Password);
    m_edit->setObjectName(QStringLiteral("password"));
    auto* inner = new QVBoxLayout(group);
    inner->addWidget(text);
    inner->addWidget(m_edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);
    m_edit->setText(m_password);
}

void CPasswordDlg::accept() {
    m_password = m_edit->text();
    QDialog::accept();
}
