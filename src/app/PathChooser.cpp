#include "app/PathChooser.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

PathChooser::PathChooser(QWidget* parent, std::function<QString(const QString&)> browse)
    : QWidget(parent), m_edit(new QLineEdit(this)) {
    m_edit->setObjectName(QStringLiteral("path"));
    auto* button = new QPushButton(QStringLiteral("&Browse"), this);
    button->setObjectName(QStringLiteral("browse"));
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(button);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_edit);
    layout->addLayout(row);
    connect(button, &QPushButton::clicked, this, [this, browse] {
        QString chosen = browse(m_edit->text());
        if (!chosen.isEmpty()) m_edit->setText(chosen);
    });
}
