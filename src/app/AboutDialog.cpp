#include "app/AboutDialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "app/Icons.h"

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About ..."));
    auto* icon = new QLabel(this);
    icon->setPixmap(AppIcon().pixmap(32, 32));
    auto* product = new QLabel(QStringLiteral("Tindale 1.1"), this);
    product->setObjectName(QStringLiteral("product"));
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(20);
    font.setBold(true);
    product->setFont(font);
    auto* maker = new QLabel(
        QStringLiteral("Made by the Tindale team, for everyone who keeps their mail."), this);
    auto* buttons = new QDialogButtonBox(this);
    auto* close = buttons->addButton(QStringLiteral("&Close"), QDialogButtonBox::AcceptRole);
    close->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(product, 0, 1);
    grid->addWidget(maker, 1, 1);
    grid->addWidget(buttons, 2, 0, 1, 2);
}
