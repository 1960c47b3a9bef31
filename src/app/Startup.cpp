#include "app/Startup.h"

#include <QApplication>

#include "app/Icons.h"

void SetUpApplication(const QString& name) {
    QApplication::setApplicationName(name);
    QApplication::setOrganizationName(QStringLiteral("Tindale"));
    QApplication::setWindowIcon(AppIcon());
}

QString ArchiveArgument() {
    QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i)
        if (!args[i].startsWith(QLatin1Char('-'))) return args[i];
    return {};
}
