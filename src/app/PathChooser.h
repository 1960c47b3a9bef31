#pragma once
// A path edit box with a "&Browse" button under it, as on the archive pages.
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>

class PathChooser : public QWidget {
    Q_OBJECT
  public:
    // `browse` returns the chosen path, or an empty string when the dialog was cancelled.
    PathChooser(QWidget* parent, std::function<QString(const QString& current)> browse);
    QString Path() const { return m_edit->text(); }
    void SetPath(const QString& path) { m_edit->setText(path); }
    QLineEdit* Edit() const { return m_edit; }

  private:
    QLineEdit* m_edit;
};
