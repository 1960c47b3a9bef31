#pragma once
// What the wizard and the Explorer both do as they start.
#include <QString>

// Names the application for Qt and the desktop and gives it Tindale's icon.
void SetUpApplication(const QString& name);
// The first command-line argument that is not an option (an archive to open), or empty.
QString ArchiveArgument();
