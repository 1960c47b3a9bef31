#pragma once
// Writes the archive of WizardState::backupSources: the header, then for each source node its
// own entry, a progress report (i, N), and an entry for each of its items.
#include <stop_token>

#include "archive/EntryWriter.h"
#include "model/Outcome.h"
#include "model/WizardState.h"
#include "model/Worker.h"

class ArchiveWriter;
class PiecePipeline;

struct BackupOptions {
    unsigned threads = 0;  // 0: one per core
    // The largest payload the format can describe; lower only to test what happens beyond it.
    uint64_t maxPayloadLength = EntryWriter::kMaxPayloadLength;
};

// Checks what the archive header can hold; empty when the choices are fine.
std::string ValidateBackupChoices(const WizardState& state);

v::Outcome BackupWorker(const WizardState& state, v::WorkerReport& report, std::stop_token stop,
                        BackupOptions options = {});

// Writes one node's entry (record and frames) through the pipeline. A node that reports
// itself unreadable, or whose frames would not fit the format, is left out of the archive.
void WriteNodeEntry(v::BasicNode& node, const WizardState& state, PiecePipeline& pipeline,
                    EntryWriter& entries, std::stop_token stop);

v::NodeRecord BuildNodeRecord(v::BasicNode& node, bool compress, bool encrypt);
