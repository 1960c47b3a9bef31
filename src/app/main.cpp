// tindale: the wizard. An optional archive path opens it on restore step 1.
#include <QApplication>

#include "app/ImapPasswordDlg.h"
#include "app/Startup.h"
#include "app/Wizard.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    SetUpApplication(QStringLiteral("Tindale"));
    InstallImapPasswordDialog();
    CWizard wizard;
    if (QString archive = ArchiveArgument(); !archive.isEmpty()) wizard.StartWithArchive(archive);
    wizard.show();
    return app.exec();
}
