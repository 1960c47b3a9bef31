// Opens an archive in the Explorer's window (offscreen, the password from TINDALE_PASSWORD)
// and prints how long opening it took and, with --open-largest, opening its largest folder.
// Peak memory is measured around it (bench/explorer_bench.sh).
#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>

#include "app/Prompts.h"
#include "app/explorer/ExplorerWindow.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: explorer_open_bench ARCHIVE [--open-largest]\n");
        return 2;
    }
    Prompts::Get().password = [](QWidget*) -> std::optional<QString> {
        const char* password = std::getenv("TINDALE_PASSWORD");
        if (!password) return std::nullopt;
        return QString::fromUtf8(password);
    };
    Prompts::Get().error = [](QWidget*, const QString& text) {
        std::fprintf(stderr, "%s\n", qPrintable(text));
    };
    ExplorerWindow window;
    QElapsedTimer timer;
    timer.start();
    if (!window.OpenArchive(QString::fromLocal8Bit(argv[1]))) return 1;
    std::printf("opened in %.2f s (%d rows at the top)\n", timer.elapsed() / 1000.0,
                window.Tree()->topLevelItemCount());
    if (argc > 2 && std::string(argv[2]) == "--open-largest") {
        QTreeWidgetItem* largest = nullptr;
        QString most;
        for (QTreeWidgetItemIterator it(window.Tree()); *it; ++it)
            if ((*it)->text(1) == QStringLiteral("folder") &&
                (!largest || (*it)->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator))
                largest = *it;
        if (!largest) return 0;
        timer.restart();
        largest->setExpanded(true);
        std::printf("its folder %s opened in %.2f s (%d rows)\n", qPrintable(largest->text(0)),
                    timer.elapsed() / 1000.0, largest->childCount());
    }
    return 0;
}
