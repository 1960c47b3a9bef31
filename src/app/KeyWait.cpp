#include "app/KeyWait.h"

#include <QApplication>
#include <QEventLoop>
#include <QProgressDialog>
#include <atomic>
#include <thread>

ArchiveReader::OpenStatus UnlockWithWait(QWidget* parent, ArchiveReader& reader,
                                         const std::u16string& password) {
    auto status = ArchiveReader::OpenStatus::WrongPassword;
    std::atomic<bool> finished{false};
    QEventLoop loop;
    QProgressDialog dialog(QStringLiteral("Checking the password..."), QStringLiteral("&Cancel"), 0,
                           0, parent);
    dialog.setWindowTitle(QStringLiteral("Please wait"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(300);
    std::stop_source stop;
    QObject::connect(&dialog, &QProgressDialog::canceled, [&] { stop.request_stop(); });
    QApplication::setOverrideCursor(Qt::WaitCursor);
    {
        std::jthread worker([&] {
            status = reader.Unlock(password, stop.get_token());
            finished = true;
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        // The loop keeps the window painted and the dialog's Cancel working; it ends when the
        // worker does, which a Cancel makes immediate.
        if (!finished) loop.exec();
    }
    QApplication::restoreOverrideCursor();
    return status;
}
