#pragma once
#include <QDialog>
#include <QLineEdit>

// Asks for the password of an encrypted archive.
class CPasswordDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CPasswordDlg(QWidget* parent = nullptr);
    QString m_password;
    QLineEdit* Edit() const { return m_edit; }
    void accept() override;

  private:
    QLineEdit* m_edit;
};
