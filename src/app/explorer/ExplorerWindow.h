#pragma once
// The Explorer: looks inside an archive and takes items out of it. It shows the archive's
// tree (containers, and items with their kind and size), previews the selected item (a
// message as its header fields, text and attachments' names; a text file as text; a picture
// as a picture; anything else as its size and kind) and extracts the selected items into a
// folder the person chooses. Nothing of the person's mail, settings or documents is touched.
#include <QImage>
#include <QMainWindow>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <thread>

#include "archive/Seal.h"
#include "restore/ArchiveOutline.h"
#include "restore/Extract.h"

class QLabel;
class QStackedWidget;
class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;

class ExplorerWindow : public QMainWindow {
    Q_OBJECT
  public:
    ExplorerWindow();
    // Opens an archive (asking for the password of an encrypted one); false, with the reason
    // shown, when it cannot be read.
    bool OpenArchive(const QString& path);
    // Selects the item at `path` (as `tindale-cli list` prints it) and previews it.
    bool Select(const QString& path);
    QString PreviewText() const;
    bool PreviewIsImage() const;
    // Extracts the selected items (everything when none is selected) into `folder`.
    v::Outcome ExtractSelected(const QString& folder, MailForm form, bool overwrite);
    QTreeWidget* Tree() const { return m_tree; }

  private:
    // Runs `work` on a thread of its own behind a progress dialog with Cancel (shown after
    // half a second), the window staying responsive; `percent`, when given, fills its bar.
    // False when cancelled.
    bool RunWithProgress(const QString& label, const std::function<void(std::stop_token)>& work,
                         const std::atomic<int>* percent = nullptr);
    void Fill();
    QTreeWidgetItem* AddFolder(int index, QTreeWidgetItem* parent);
    // Adds the rows of a folder's items when it is first opened.
    void Populate(QTreeWidgetItem* item);
    QTreeWidgetItem* FindRow(const QString& path);
    // Fills in the own sizes of compressed or encrypted items (each decoded from its first
    // frame) on a thread of its own, the rows updated as sizes come.
    void SizeInBackground(std::vector<std::pair<QTreeWidgetItem*, uint64_t>> rows);
    std::optional<ArchiveOutline::Entry> EntryOf(QTreeWidgetItem* item) const;
    void Preview(QTreeWidgetItem* item);
    // What a preview shows, worked out on the preview thread.
    struct Shown {
        QString text;
        QImage image;  // shown instead of the text when not null
    };
    static Shown Describe(const ExtractRequest& request, const ArchiveOutline::Entry& entry,
                          std::stop_token stop);
    void Show(uint64_t generation, const Shown& shown);
    void AskAndExtract();
    std::vector<std::string> SelectedPaths() const;

    QTreeWidget* m_tree;
    QStackedWidget* m_preview;
    QTextBrowser* m_text;
    QLabel* m_image;
    QString m_path;
    ExtractRequest m_request;  // the archive, its password or key
    ArchiveOutline m_outline;
    std::vector<QTreeWidgetItem*> m_folderRows;  // by folder index in the outline
    // The preview being worked out: a new selection stops it and starts another.
    uint64_t m_previewGeneration = 0;
    bool m_previewPending = false;
    std::jthread m_previewWorker;
    // Declared last, so stopped first: they post to rows of the current tree only.
    uint64_t m_sizeGeneration = 0;
    std::vector<std::jthread> m_sizers;
};
