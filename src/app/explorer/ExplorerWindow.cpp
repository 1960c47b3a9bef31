#include "app/explorer/ExplorerWindow.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QMimeDatabase>
#include <QProgressDialog>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolBar>
#include <QTreeWidget>
#include <thread>

#include "app/Icons.h"
#include "app/KeyWait.h"
#include "app/Prompts.h"
#include "app/QtText.h"
#include "app/WelcomePage.h"
#include "archive/ArchiveReader.h"
#include "base/Text.h"
#include "model/FileNodes.h"
#include "model/MessageNodes.h"
#include "platform/MessageHeaders.h"

namespace {

// Keeps the extraction's percentage for the window's thread to show.
struct ProgressReport : v::WorkerReport {
    void Progress(uint64_t position, uint64_t) override { percent = static_cast<int>(position); }
    void Done() override {}
    std::atomic<int> percent{0};
};

}  // namespace

ExplorerWindow::ExplorerWindow() {
    setWindowTitle(QStringLiteral("Tindale Explorer"));
    setWindowIcon(AppIcon());
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("records"));
    m_tree->setHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Kind"), QStringLiteral("Size")});
    m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tree->header()->setStretchLastSection(false);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_tree->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_tree->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    m_text = new QTextBrowser(this);
    m_text->setObjectName(QStringLiteral("preview"));
    m_image = new QLabel(this);
    m_image->setAlignment(Qt::AlignCenter);
    m_preview = new QStackedWidget(this);
    m_preview->addWidget(m_text);
    m_preview->addWidget(m_image);
    auto* splitter = new QSplitter(this);
    splitter->addWidget(m_tree);
    splitter->addWidget(m_preview);
    splitter->setSizes({480, 420});
    setCentralWidget(splitter);
    auto* tools = addToolBar(QStringLiteral("Archive"));
    auto* open = tools->addAction(QStringLiteral("&Open archive..."), this, [this] {
        QString path = QFileDialog::getOpenFileName(
            this, QStringLiteral("Open archive"),
            QStandardPaths::writableLocation(QStandardPaths::HomeLocation),
            QStringLiteral("Quorrel File(*.vqz);;All Files(*)"));
        if (!path.isEmpty()) OpenArchive(path);
    });
    auto* extract =
        tools->addAction(QStringLiteral("E&xtract..."), this, [this] { AskAndExtract(); });
    // Every action from the keyboard too: a menu with mnemonics and shortcuts.
    open->setShortcut(QKeySequence::Open);
    extract->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    auto* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(open);
    file->addAction(extract);
    file->addSeparator();
    file->addAction(QStringLiteral("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), this,
                    [this] { close(); });
    auto* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&User guide"), QKeySequence::HelpContents, this,
                    [this] { OpenUserGuide(this, QStringLiteral("more")); });
    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { Preview(item); });
    connect(m_tree, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { Populate(item); });
    resize(900, 600);
    // Never larger than the screen, at any scale.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        resize(size().boundedTo(screen->availableGeometry().size() * 9 / 10));
}

bool ExplorerWindow::OpenArchive(const QString& path) {
    ArchiveReader reader;
    std::string file = path.toStdString();
    if (reader.Open(file) != ArchiveReader::OpenStatus::Readable) {
        Prompts::Get().error(this, QStringLiteral("%1 is not a readable archive.").arg(path));
        return false;
    }
    ExtractRequest request;
    request.archivePath = tindale::text::ToUtf16(file);
    if (reader.Header().Encrypted()) {
        for (;;) {
            auto password = Prompts::Get().password(this);
            if (!password) return false;
            auto status = UnlockWithWait(this, reader, Wide(*password));
            if (status == ArchiveReader::OpenStatus::Readable) {
                request.password = Wide(*password);
                if (reader.Key()) request.key = *reader.Key();
                break;
            }
            if (status == ArchiveReader::OpenStatus::Cancelled) return false;
            Prompts::Get().error(this, status == ArchiveReader::OpenStatus::DamagedHeader
                                           ? QStringLiteral("The archive's header is damaged, so "
                                                            "no password can open it.")
                                           : QStringLiteral("The password is wrong."));
            if (status == ArchiveReader::OpenStatus::DamagedHeader) return false;
        }
    }
    ArchiveOutline outline;
    // A large archive takes a while to walk: the window stays responsive, and Cancel works.
    // Only the folders are kept; a folder's items are read when it is opened.
    if (!RunWithProgress(QStringLiteral("Reading the archive..."),
                         [&](std::stop_token stop) { outline = ArchiveOutline::Load(file, stop); }))
        return false;
    m_request = std::move(request);
    m_path = path;
    ++m_previewGeneration;
    m_previewWorker = {};  // it reads the records about to be replaced
    m_previewPending = false;
    m_outline = std::move(outline);
    Fill();
    setWindowTitle(QStringLiteral("%1 - Tindale Explorer").arg(QFileInfo(path).fileName()));
    statusBar()->showMessage(m_outline.Complete()
                                 ? QStringLiteral("%1 items").arg(m_outline.Records())
                                 : QStringLiteral("%1 items; the archive ends early (it is damaged "
                                                  "or cut short)")
                                       .arg(m_outline.Records()));
    return true;
}

namespace {

// An item's own size: its bytes, without the header its record's payload starts with. A
// compressed or encrypted payload does not say it without being decoded: its preview does.
QString OwnSize(const ArchiveOutline::Entry& e, const QLocale& locale) {
    const auto& rec = e.record;
    size_t header = rec.TypeGuid() == v::MsgNode::kTypeGuid          ? v::kMessageHeaderSize
                    : rec.TypeGuid() == v::FileFolderNode::kTypeGuid ? v::kFileHeaderSize
                                                                     : 0;
    if (rec.Compressed() || rec.Encrypted()) return QStringLiteral("-");
    // Plain frames: each piece of 10240 bytes behind its u32 length.
    constexpr uint64_t kPiece = 10240, kFrame = kPiece + 4;
    uint64_t frames = (e.PayloadLength() + kFrame - 1) / kFrame;
    uint64_t payload = e.PayloadLength() - 4 * frames;
    return locale.formattedDataSize(static_cast<qint64>(payload > header ? payload - header : 0));
}

// What a row stands for: a folder of the outline (its index), or an item (where its record
// lies, and its folder).
constexpr int kPathRole = Qt::UserRole;
constexpr int kFolderRole = Qt::UserRole + 1;  // the folder a row is, or an item's folder
constexpr int kOffsetRole = Qt::UserRole + 2;  // an item's record offset; none for a folder
constexpr int kFilledRole = Qt::UserRole + 3;  // a folder whose items' rows were added

void FillRow(QTreeWidgetItem* row, const ArchiveOutline::Entry& e, const QLocale& locale) {
    row->setText(0, Narrow(e.record.DisplayName()));
    std::u16string key = e.record.IconKey();
    if (!key.empty()) row->setIcon(0, IconForKey(key));
    bool message = e.record.TypeGuid() == v::MsgNode::kTypeGuid;
    bool file = e.record.TypeGuid() == v::FileFolderNode::kTypeGuid;
    row->setText(1, e.record.IsContainer() ? QStringLiteral("folder")
                    : message              ? QStringLiteral("message")
                    : file                 ? QStringLiteral("file")
                                           : QStringLiteral("settings"));
    if (!e.record.IsContainer()) row->setText(2, OwnSize(e, locale));
    row->setData(0, kPathRole, QString::fromStdString(e.path));
}

}  // namespace

void ExplorerWindow::Fill() {
    m_sizers.clear();  // stopped and joined: they size rows about to go
    ++m_sizeGeneration;
    m_tree->clear();
    m_folderRows.assign(m_outline.Folders().size(), nullptr);
    for (int index : m_outline.Top().folders) AddFolder(index, nullptr);
    // Items without a folder: at the top, read at once (no writer makes many).
    const auto& offsets = m_outline.Top().items;
    auto entries = m_outline.ReadItems(-1, offsets);
    QLocale locale;
    for (size_t i = 0; i < entries.size(); ++i) {
        auto* row = new QTreeWidgetItem(m_tree);
        FillRow(row, entries[i], locale);
        row->setData(0, kFolderRole, -1);
        row->setData(0, kOffsetRole, QVariant::fromValue<qulonglong>(offsets[i]));
    }
    if (m_tree->topLevelItemCount() > 0) m_tree->topLevelItem(0)->setExpanded(true);
}

QTreeWidgetItem* ExplorerWindow::AddFolder(int index, QTreeWidgetItem* parent) {
    const auto& folder = m_outline.Folders()[index];
    auto* row = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_tree);
    FillRow(row, folder.entry, QLocale());
    row->setData(0, kFolderRole, index);
    m_folderRows[index] = row;
    for (int child : folder.folders) AddFolder(child, row);
    if (!folder.items.empty()) row->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return row;
}

void ExplorerWindow::Populate(QTreeWidgetItem* row) {
    if (!row || row->data(0, kOffsetRole).isValid() || row->data(0, kFilledRole).toBool()) return;
    int index = row->data(0, kFolderRole).toInt();
    if (index < 0 || index >= static_cast<int>(m_outline.Folders().size())) return;
    row->setData(0, kFilledRole, true);
    const auto& offsets = m_outline.Folders()[index].items;
    auto entries = m_outline.ReadItems(index, offsets);
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(entries.size()));
    QLocale locale;
    for (size_t i = 0; i < entries.size(); ++i) {
        auto* item = new QTreeWidgetItem;
        FillRow(item, entries[i], locale);
        item->setData(0, kFolderRole, index);
        item->setData(0, kOffsetRole, QVariant::fromValue<qulonglong>(offsets[i]));
        rows.append(item);
    }
    row->addChildren(rows);  // one insertion for thousands of rows
    std::vector<std::pair<QTreeWidgetItem*, uint64_t>> unsized;
    for (qsizetype i = 0; i < rows.size(); ++i)
        if (rows[i]->text(2) == QStringLiteral("-")) unsized.emplace_back(rows[i], offsets[i]);
    if (!unsized.empty()) SizeInBackground(std::move(unsized));
}

void ExplorerWindow::SizeInBackground(std::vector<std::pair<QTreeWidgetItem*, uint64_t>> rows) {
    using Sized = std::vector<std::pair<QTreeWidgetItem*, uint64_t>>;
    auto show = [this, generation = m_sizeGeneration](const Sized& sized) {
        if (generation != m_sizeGeneration) return;  // the rows are gone with their archive
        QLocale locale;
        for (const auto& [row, size] : sized)
            row->setText(2, locale.formattedDataSize(static_cast<qint64>(size)));
    };
    m_sizers.emplace_back([this, rows = std::move(rows), show, archive = m_outline.ArchivePath(),
                           request = m_request](std::stop_token stop) {
        const SealKey* key = request.key ? &*request.key : nullptr;
        Sized batch;
        for (const auto& [row, offset] : rows) {
            if (stop.stop_requested()) return;
            if (auto size = ArchiveOutline::OwnSize(archive, offset, request.password, key))
                batch.emplace_back(row, *size);
            if (batch.size() == 256) {
                QMetaObject::invokeMethod(
                    this, [show, batch] { show(batch); }, Qt::QueuedConnection);
                batch.clear();
            }
        }
        QMetaObject::invokeMethod(
            this, [show, batch] { show(batch); }, Qt::QueuedConnection);
    });
}

std::optional<ArchiveOutline::Entry> ExplorerWindow::EntryOf(QTreeWidgetItem* row) const {
    if (!row) return std::nullopt;
    int folder = row->data(0, kFolderRole).toInt();
    QVariant offset = row->data(0, kOffsetRole);
    if (!offset.isValid()) {
        if (folder < 0 || folder >= static_cast<int>(m_outline.Folders().size()))
            return std::nullopt;
        return m_outline.Folders()[folder].entry;
    }
    auto entries = m_outline.ReadItems(folder, {offset.toULongLong()});
    if (entries.empty()) return std::nullopt;
    return entries.front();
}

namespace {

// At most this much of an item is decoded for its preview, whatever its size: a picture up to
// it, a text or a message's first part.
constexpr uint64_t kPreviewBytes = 16ull << 20;
constexpr size_t kShownText = 64u << 10;  // more text only slows the window down

std::optional<std::string> PreviewBytes(const ExtractRequest& request, const std::string& path,
                                        std::stop_token stop, bool& cut) {
    int fd = ::memfd_create("tindale-preview", MFD_CLOEXEC);
    if (fd < 0) return std::nullopt;
    auto outcome = CatItem(request, path, fd, kPreviewBytes, stop, &cut);
    std::string bytes;
    if (!outcome.failed && !outcome.cancelled) {
        char buffer[65536];
        for (off_t at = 0;;) {
            ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
            if (n <= 0) break;
            bytes.append(buffer, static_cast<size_t>(n));
            at += n;
        }
    }
    ::close(fd);
    if (outcome.failed || outcome.cancelled) return std::nullopt;
    return bytes;
}

}  // namespace

ExplorerWindow::Shown ExplorerWindow::Describe(const ExtractRequest& request,
                                               const ArchiveOutline::Entry& entry,
                                               std::stop_token stop) {
    QString name = Narrow(entry.record.DisplayName());
    QLocale locale;
    QString size = locale.formattedDataSize(static_cast<qint64>(entry.PayloadLength()));
    bool message = entry.record.TypeGuid() == v::MsgNode::kTypeGuid;
    bool file = entry.record.TypeGuid() == v::FileFolderNode::kTypeGuid;
    if (!message && !file)
        return {QStringLiteral("%1\n\nA settings item, %2 in the archive.").arg(name, size), {}};
    bool cut = false;
    auto bytes = PreviewBytes(request, entry.path, stop, cut);
    if (!bytes)
        return {QStringLiteral("%1\n\nIts content cannot be read from the archive.").arg(name), {}};
    QString more = cut ? QStringLiteral("\n\n(Only its beginning is shown.)") : QString();
    if (message) {
        auto s = tindale::mail::Summarize(std::string_view(*bytes).substr(0, kShownText));
        QString text = QStringLiteral("From: %1\nTo: %2\nDate: %3\nSubject: %4\n\n%5")
                           .arg(QString::fromStdString(s.from.substr(0, 4096)),
                                QString::fromStdString(s.to.substr(0, 4096)),
                                QString::fromStdString(s.date.substr(0, 4096)),
                                QString::fromStdString(s.subject.substr(0, 4096)),
                                QString::fromStdString(s.text.substr(0, kShownText)));
        if (!s.attachments.empty()) {
            text += QStringLiteral("\n\nAttachments:");
            for (const auto& a : s.attachments) text += "\n  " + QString::fromStdString(a);
        }
        return {text + more, {}};
    }
    QImage image;
    if (!cut && image.loadFromData(reinterpret_cast<const uchar*>(bytes->data()),
                                   static_cast<int>(bytes->size())))
        return {{}, image};
    std::string head = bytes->substr(0, 4096);
    bool textual = head.find('\0') == std::string::npos &&
                   tindale::text::ToUtf8(tindale::text::ToUtf16(head)) == head;
    if (textual)
        return {QString::fromStdString(bytes->substr(0, kShownText)) +
                    (cut || bytes->size() > kShownText
                         ? QStringLiteral("\n\n(Only its beginning is shown.)")
                         : QString()),
                {}};
    QMimeDatabase types;
    return {
        QStringLiteral("%1\n\n%2 of %3.")
            .arg(name, cut ? size : locale.formattedDataSize(static_cast<qint64>(bytes->size())),
                 types.mimeTypeForData(QByteArray::fromStdString(head)).comment()),
        {}};
}

void ExplorerWindow::Preview(QTreeWidgetItem* item) {
    m_preview->setCurrentWidget(m_text);
    m_text->clear();
    uint64_t generation = ++m_previewGeneration;
    m_previewWorker = {};  // stops and waits for the one before: it decodes a bounded prefix
    m_previewPending = false;
    if (!item) return;
    auto entry = EntryOf(item);
    if (!entry) return;
    if (entry->record.IsContainer()) {
        const auto& folder = m_outline.Folders()[item->data(0, kFolderRole).toInt()];
        m_text->setPlainText(QStringLiteral("%1\n\nA folder of %2 items.")
                                 .arg(Narrow(entry->record.DisplayName()))
                                 .arg(folder.folders.size() + folder.items.size()));
        return;
    }
    m_text->setPlainText(
        QStringLiteral("%1\n\nReading...").arg(Narrow(entry->record.DisplayName())));
    m_previewPending = true;
    // Decoded and parsed on a thread of its own: the window stays responsive whatever the
    // item holds, and a new selection stops it.
    m_previewWorker =
        std::jthread([this, generation, entry = *entry, request = m_request](std::stop_token stop) {
            Shown shown = Describe(request, entry, stop);
            if (stop.stop_requested()) return;
            QMetaObject::invokeMethod(
                this, [this, generation, shown] { Show(generation, shown); }, Qt::QueuedConnection);
        });
}

void ExplorerWindow::Show(uint64_t generation, const Shown& shown) {
    if (generation != m_previewGeneration) return;  // another item was chosen meanwhile
    m_previewPending = false;
    if (!shown.image.isNull()) {
        m_image->setPixmap(
            QPixmap::fromImage(shown.image)
                .scaled(m_preview->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        m_preview->setCurrentWidget(m_image);
        return;
    }
    m_text->setPlainText(shown.text);
}

// The row of `path`, opening the folder it is in.
QTreeWidgetItem* ExplorerWindow::FindRow(const QString& path) {
    std::string wanted = path.toStdString();
    if (auto folder = m_outline.FolderAt(wanted)) return m_folderRows[*folder];
    auto item = m_outline.ItemAt(wanted);
    if (!item) return nullptr;
    QTreeWidgetItem* parent = item->first < 0 ? nullptr : m_folderRows[item->first];
    Populate(parent);
    int n = parent ? parent->childCount() : m_tree->topLevelItemCount();
    for (int i = 0; i < n; ++i) {
        auto* row = parent ? parent->child(i) : m_tree->topLevelItem(i);
        if (row->data(0, kPathRole).toString() == path) return row;
    }
    return nullptr;
}

bool ExplorerWindow::Select(const QString& path) {
    QTreeWidgetItem* row = FindRow(path);
    if (!row) return false;
    m_tree->setCurrentItem(row);
    // The preview is worked out on its thread; this waits for it, events flowing.
    QElapsedTimer waited;
    waited.start();
    while (m_previewPending && waited.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return true;
}

QString ExplorerWindow::PreviewText() const {
    return m_text->toPlainText();
}

bool ExplorerWindow::PreviewIsImage() const {
    return m_preview->currentWidget() == m_image;
}

std::vector<std::string> ExplorerWindow::SelectedPaths() const {
    std::vector<std::string> paths;
    for (auto* item : m_tree->selectedItems())
        paths.push_back(item->data(0, kPathRole).toString().toStdString());
    return paths;
}

v::Outcome ExplorerWindow::ExtractSelected(const QString& folder, MailForm form, bool overwrite) {
    ExtractRequest request = m_request;
    request.items = SelectedPaths();
    request.target = folder.toStdString();
    request.mail = form;
    request.overwrite = overwrite;
    v::Outcome outcome;
    ProgressReport report;
    RunWithProgress(
        QStringLiteral("Extracting..."),
        [&](std::stop_token stop) { outcome = ExtractWorker(request, report, stop); },
        &report.percent);
    return outcome;
}

bool ExplorerWindow::RunWithProgress(const QString& label,
                                     const std::function<void(std::stop_token)>& work,
                                     const std::atomic<int>* percent) {
    QProgressDialog progress(label, QStringLiteral("&Cancel"), 0, percent ? 100 : 0, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    std::atomic<bool> done{false};
    std::jthread worker([&](std::stop_token stop) {
        work(stop);
        done = true;
    });
    while (!done) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        if (progress.wasCanceled())
            worker.request_stop();
        else if (percent)
            progress.setValue(std::min(percent->load(), 99));
    }
    return !progress.wasCanceled();
}

void ExplorerWindow::AskAndExtract() {
    if (m_path.isEmpty()) {
        Prompts::Get().error(this, QStringLiteral("Open an archive first."));
        return;
    }
    QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Extract into"),
        QStandardPaths::writableLocation(QStandardPaths::HomeLocation));
    if (folder.isEmpty()) return;
    QStringList forms = {QStringLiteral("Messages as .eml files"),
                         QStringLiteral("Each mail folder as a Maildir"),
                         QStringLiteral("Each mail folder as an mbox file")};
    bool ok = false;
    QString chosen = QInputDialog::getItem(this, QStringLiteral("Extract"),
                                           QStringLiteral("Messages:"), forms, 0, false, &ok);
    if (!ok) return;
    auto form = static_cast<MailForm>(forms.indexOf(chosen));
    auto outcome = ExtractSelected(folder, form, false);
    bool existing = std::any_of(outcome.problems.begin(), outcome.problems.end(), [](auto& p) {
        return p.reason.find("exists already") != std::string::npos;
    });
    bool declined = false;
    if (existing) {
        if (Prompts::Get().confirm(
                this, QStringLiteral("Some files are in %1 already. Replace them?").arg(folder)))
            outcome = ExtractSelected(folder, form, true);
        else
            declined = true;
    }
    if (declined) {
        // The person chose to keep them: one sentence, not a line per file.
        size_t kept = 0;
        std::erase_if(outcome.problems, [&](const v::Problem& p) {
            bool there = p.reason.find("exists already") != std::string::npos;
            kept += there;
            return there;
        });
        statusBar()->showMessage(
            QStringLiteral("%1 files already in %2 were kept; the others were extracted.")
                .arg(kept)
                .arg(folder));
        if (outcome.problems.empty() && !outcome.failed) return;
    }
    QString summary =
        outcome.cancelled ? QStringLiteral("The extraction was cancelled.")
        : outcome.failed
            ? QStringLiteral("The extraction failed: %1").arg(QString::fromStdString(outcome.error))
            : QStringLiteral("%1 items were extracted into %2.")
                  .arg(outcome.itemsDone - outcome.LeftOut())
                  .arg(folder);
    for (const auto& line : v::ProblemLines(outcome))
        summary += QStringLiteral("\n") + QString::fromStdString(line.text);
    statusBar()->showMessage(summary.section(QLatin1Char('\n'), 0, 0));
    if (!outcome.problems.empty() || outcome.failed) Prompts::Get().error(this, summary);
}
