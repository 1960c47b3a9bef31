// tindale-explorer: looks inside an archive and takes items out of it.
#include <QApplication>

#include "app/Startup.h"
#include "app/explorer/ExplorerWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    SetUpApplication(QStringLiteral("Tindale Explorer"));
    ExplorerWindow window;
    window.show();
    if (QString archive = ArchiveArgument(); !archive.isEmpty()) window.OpenArchive(archive);
    return app.exec();
}
