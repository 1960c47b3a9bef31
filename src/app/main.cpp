// tindale: the wizard. An optional archive path opens it on restore step 1.
#include <QApplication>

#include "app/Icons.h"
#include "app/Wizard.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tindale"));
    QApplication::setOrganizationName(QStringLiteral("Tindale"));
    QApplication::setWindowIcon(AppIcon());
    CWizard wizard;
    QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i)
        if (!args[i].startsWith(QLatin1Char('-'))) {
            wizard.StartWithArchive(args[i]);
            break;
        }
    wizard.show();
    return app.exec();
}
