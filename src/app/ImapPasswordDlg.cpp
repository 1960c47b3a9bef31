#include "app/ImapPasswordDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QThread>
#include <QVBoxLayout>

#include "app/QtText.h"
#include "platform/stores/imap/ImapPassword.h"

CImapPasswordDlg::CImapPasswordDlg(const QString& account, const QString& refusal, QWidget* parent)
    : QDialog(parent), m_edit(new QLineEdit), m_keep(new QCheckBox) {
    setWindowTitle(QStringLiteral("Mail server password"));
    auto* text = new QLabel(QStringLiteral("The password of %1:").arg(account), this);
    text->setWordWrap(true);
    m_edit->setEchoMode(QLineEdit::Password);
    m_edit->setObjectName(QStringLiteral("imapPassword"));
    text->setBuddy(m_edit);
    m_keep->setText(QStringLiteral("&Keep it in the desktop's keyring"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    if (!refusal.isEmpty()) {
        auto* why = new QLabel(refusal, this);
        why->setWordWrap(true);
        layout->addWidget(why);
    }
    layout->addWidget(text);
    layout->addWidget(m_edit);
    layout->addWidget(m_keep);
    layout->addWidget(buttons);
    setMinimumWidth(420);
    m_edit->setFocus();
}

QString CImapPasswordDlg::Password() const {
    return m_edit->text();
}

bool CImapPasswordDlg::KeepInKeyring() const {
    return m_keep->isChecked();
}

namespace {

std::optional<std::string> AskOnGuiThread(const tindale::store::ImapAccount& account,
                                          const std::string& refusal) {
    QString who = QString::fromStdString(account.user + " at " + account.host);
    CImapPasswordDlg dialog(who, QString::fromStdString(refusal), QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    if (dialog.KeepInKeyring()) tindale::store::SetKeyringAllowed(true, true);
    return dialog.Password().toStdString();
}

}  // namespace

void InstallImapPasswordDialog() {
    tindale::store::SetKeyringAllowed(true, false);  // what the person kept there before
    tindale::store::SetImapPasswordAsker(
        [](const tindale::store::ImapAccount& account,
           const std::string& refusal) -> std::optional<std::string> {
            if (QThread::currentThread() == qApp->thread()) return AskOnGuiThread(account, refusal);
            std::optional<std::string> answer;
            QMetaObject::invokeMethod(
                qApp, [&] { answer = AskOnGuiThread(account, refusal); },
                Qt::BlockingQueuedConnection);
            return answer;
        });
}
