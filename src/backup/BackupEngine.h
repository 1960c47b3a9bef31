#pragma once
// Writes the archive of a request's sources: the header, then for each source node its own
// entry, a progress report (i, N), and an entry for each of its items.
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "archive/EntryWriter.h"
#include "model/Node.h"
#include "model/Outcome.h"
#include "model/Worker.h"

class ArchiveWriter;
class PiecePipeline;

struct BackupRequest {
    std::u16string archivePath;
    std::u16string password;
    std::vector<v::BasicNode*> sources;  // not owned
    bool compress = false;
    bool encrypt = false;
    bool legacyEncryption = false;  // the original format's weak scheme instead of sealing
    // Sources chosen only for their subfolders: their record is written, so that the
    // subfolders keep their place, but their own items are not.
    std::set<const v::BasicNode*> withoutOwnItems;
    // LZMA's faster setting, for archives other readers open (sealed ones take zstd anyway).
    bool quickCompression = false;
};

struct BackupOptions {
    unsigned threads = 0;  // 0: one per core
    // The largest payload the format can describe; lower only to test what happens beyond it.
    uint64_t maxPayloadLength = v::NodeRecord::kMaxPayloadLength;
};

// Checks what the archive header can hold; empty when the choices are fine.
std::string ValidateBackupChoices(const BackupRequest& request);

v::Outcome BackupWorker(const BackupRequest& request, v::WorkerReport& report, std::stop_token stop,
                        BackupOptions options = {});

// Writes one node's entry (record and frames) through the pipeline. A node that reports
// itself unreadable, or whose frames would not fit the format, is left out of the archive.
void WriteNodeEntry(v::BasicNode& node, const BackupRequest& request, PiecePipeline& pipeline,
                    EntryWriter& entries, std::stop_token stop, v::WorkerReport* report = nullptr);

v::NodeRecord BuildNodeRecord(v::BasicNode& node, bool compress, bool encrypt);
