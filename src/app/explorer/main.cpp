// tindale-explorer: looks inside an archive and takes items out of it.
#include <QApplication>

#include "app/Icons.h"
#include "app/explorer/ExplorerWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tindale Explorer"));
    QApplication::setOrganizationName(QStringLiteral("Tindale"));
    QApplication::setWindowIcon(AppIcon());
    ExplorerWindow window;
    window.show();
    QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i)
        if (!args[i].startsWith(QLatin1Char('-'))) {
            window.OpenArchive(args[i]);
            break;
        }
    return app.exec();
}
