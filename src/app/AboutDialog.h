#pragma once
#include <QDialog>

class CAboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDialog(QWidget* parent = nullptr);
};
