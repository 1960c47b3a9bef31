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
    // Whether the path shown is the one picked in the file dialog (which asked about
    // replacing a file itself).
    bool ChosenInDialog() const { return !m_fromDialog.isEmpty() && m_fromDialog == Path(); }
    // A typed path as a person means it: "~" is the home folder, and a relative name is in it.
    static QString ResolveInHome(const QString& typed);

  private:
    // Where the file dialog opens: the path typed, else the folder last used, else home.
    static QString StartingPoint(const QString& typed);
    static QString& LastFolder();
    QLineEdit* m_edit;
    QString m_fromDialog;
};
