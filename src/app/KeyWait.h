#pragma once
// Deriving a sealed archive's key takes a moment (Argon2id): the wizard does it off the
// user-interface thread, behind a wait dialog whose Cancel ends the wait at once.
#include <string>

#include "archive/ArchiveReader.h"

class QWidget;

// reader.Unlock(password) on a thread of its own while a modal "Checking the password..."
// dialog is up (shown only when the check takes a noticeable time). Cancelled on Cancel.
ArchiveReader::OpenStatus UnlockWithWait(QWidget* parent, ArchiveReader& reader,
                                         const std::u16string& password);
