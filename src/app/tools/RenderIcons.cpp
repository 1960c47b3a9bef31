// Renders the application icon (hicolor sizes) and the node icons to PNG files:
// tindale-icons OUTPUT_DIR. The build runs it so that the install holds them as files.
#include <QApplication>
#include <QDir>

#include "app/Icons.h"
#include "base/Text.h"
#include "model/NodeIconRegistry.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("icons"));
    for (int size : {16, 32, 48, 64, 128}) {
        QString dir = QStringLiteral("hicolor/%1x%1/apps").arg(size);
        out.mkpath(dir);
        if (!AppIcon().pixmap(size, size).save(out.filePath(dir + QStringLiteral("/tindale.png"))))
            return 1;
    }
    out.mkpath(QStringLiteral("nodes"));
    for (const auto& key : v::NodeIconRegistry::NamedKeys()) {
        QString name = QString::fromStdString(tindale::text::ToUtf8(key));
        if (!IconForKey(key).pixmap(16, 16).save(
                out.filePath(QStringLiteral("nodes/%1.png").arg(name))))
            return 1;
    }
    return 0;
}
