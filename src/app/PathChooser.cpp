#include "app/PathChooser.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QVBoxLayout>

PathChooser::PathChooser(QWidget* parent, std::function<QString(const QString&)> browse)
    : QWidget(parent), m_edit(new QLineEdit(this)) {
    m_edit->setObjectName(QStringLiteral("path"));
    // Alt+R: Alt+B is the wizard's "< Back".
    auto* button = new QPushButton(QStringLiteral("B&rowse"), this);
    button->setObjectName(QStringLiteral("browse"));
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(button);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_edit);
    layout->addLayout(row);
    connect(button, &QPushButton::clicked, this, [this, browse] {
        QString chosen = browse(StartingPoint(m_edit->text()));
        if (chosen.isEmpty()) return;
        m_edit->setText(chosen);
        m_fromDialog = chosen;
        LastFolder() = QFileInfo(chosen).absolutePath();
    });
}

QString& PathChooser::LastFolder() {
    static QString last;
    return last;
}

QString PathChooser::StartingPoint(const QString& typed) {
    if (!typed.trimmed().isEmpty()) return ResolveInHome(typed);
    return LastFolder().isEmpty() ? QDir::homePath() : LastFolder();
}

QString PathChooser::ResolveInHome(const QString& typed) {
    QString path = typed.trimmed();
    if (path == QStringLiteral("~") || path.startsWith(QStringLiteral("~/")))
        path = QDir::homePath() + path.mid(1);
    if (QFileInfo(path).isRelative()) path = QDir::home().filePath(path);
    return QDir::cleanPath(path);
}
