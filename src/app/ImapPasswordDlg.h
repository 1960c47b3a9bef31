#pragma once
#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;

// Asks for the password of an IMAP account when a job or the tree first opens it; the
// person may let the desktop's keyring keep it.
class CImapPasswordDlg : public QDialog {
    Q_OBJECT
  public:
    CImapPasswordDlg(const QString& account, const QString& refusal, QWidget* parent = nullptr);
    QString Password() const;
    bool KeepInKeyring() const;

  private:
    QLineEdit* m_edit;
    QCheckBox* m_keep;
};

// Makes the wizard and the Explorer ask with this dialog, from whichever thread opens the
// account (a worker waits for the answer).
void InstallImapPasswordDialog();
