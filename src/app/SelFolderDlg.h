#pragma once
#include <QDialog>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <utility>

#include "backup/SourceTree.h"

class QPushButton;

// Picks a message folder of any identity. OK is enabled only while a message folder is
// selected, so an empty choice can never be returned.
class CSelFolderDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CSelFolderDlg(QWidget* parent = nullptr);
    std::pair<std::u16string, uint32_t> Selection() const { return {m_identityId, m_folderId}; }
    QTreeWidget* Tree() const { return m_tree; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* NewFolderButton() const { return m_newFolder; }

  private:
    void OnSelectionChanged(QTreeWidgetItem* item);
    // Makes a folder below the selected identity or folder, and selects it.
    void MakeFolder();
    std::unique_ptr<SourceTree> m_sources;
    std::u16string m_identityId;
    uint32_t m_folderId = 0;
    QTreeWidget* m_tree;
    QPushButton* m_ok;
    QPushButton* m_newFolder;
};
