#include "backup/BackupEngine.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "archive/ArchiveHeader.h"
#include "archive/ArchiveWriter.h"
#include "archive/EntryWriter.h"
#include "archive/PieceCutter.h"
#include "archive/PiecePipeline.h"
#include "archive/Processors.h"
#include "archive/Seal.h"
#include "archive/ZstdDictionary.h"
#include "backup/MailDictionary.h"
#include "base/Text.h"
#include "model/FileNodes.h"
#include "model/ItemProgress.h"
#include "model/MessageNodes.h"
#include "model/NodeIconRegistry.h"
#include "model/ProgramNodes.h"
#include "model/RegistryNodes.h"
#include "platform/StoreSession.h"

using namespace tindale;

std::string ValidateBackupChoices(const BackupRequest& request) {
    if (request.archivePath.empty()) return "no archive path was given";
    if (request.archivePath.size() > ArchiveHeader::kMaxPathUnits)
        return "the archive path is too long for the archive header (at most 2047 characters)";
    if (request.encrypt && request.legacyEncryption && request.password.size() > kMaxPasswordUnits)
        return "the password is too long for the legacy scheme (at most 27 characters)";
    if (request.encrypt && request.password.size() > 1024) return "the password is too long";
    return {};
}

v::NodeRecord BuildNodeRecord(v::BasicNode& node, bool compress, bool encrypt) {
    v::NodeRecord rec;
    rec.SetTypeGuid(node.GetTypeGuid());
    if (node.parent) rec.SetParentGuid(node.parent->instanceGuid);
    rec.SetFlags(compress, encrypt);
    rec.SetContainer(node.IsContainer());
    rec.SetInstanceGuid(node.instanceGuid);
    rec.SetDisplayName(node.GetDisplayName());
    if (node.iconIndex >= 0)
        rec.SetIconKey(v::NodeIconRegistry::Instance().KeyForIndex(node.iconIndex));
    return rec;
}

void WriteNodeEntry(v::BasicNode& node, const BackupRequest& request, PiecePipeline& pipeline,
                    EntryWriter& entries, std::stop_token stop, v::WorkerReport* report) {
    v::NodeRecord rec = BuildNodeRecord(node, request.compress, request.encrypt);
    pipeline.SubmitAction([&entries, rec] { entries.Begin(rec); });
    auto record = std::make_shared<const v::RecordBytes>(rec.bytes);
    // The node's own problems, kept apart so that only they decide whether it is left out.
    v::Outcome own;
    {
        v::OutcomeScope scope(own);
        PieceCutter cutter(pipeline, stop, record);
        if (report) {
            bool file = dynamic_cast<v::FileFolderNode*>(&node) != nullptr;
            v::ItemProgressStream counted(cutter, *report, file);
            node.WritePayload(counted);
        } else {
            node.WritePayload(cutter);
        }
        cutter.Finish();
    }
    bool leftOutByNode = own.LeftOut() > 0;
    for (auto& p : own.problems)
        v::ReportProblem(std::move(p.item), std::move(p.reason), p.leftOut);
    for (auto& n : own.notes) v::ReportNote(std::move(n));
    // Entries end while the next node is being read, so their problems go to the job's
    // outcome directly, never to whichever node happens to be reporting at the time.
    pipeline.SubmitAction([&entries, leftOutByNode, outcome = v::CurrentOutcome(),
                           name = text::ToUtf8(node.GetDisplayName())] {
        if (entries.Finish(leftOutByNode) == EntryWriter::End::TooLarge && outcome)
            outcome->problems.push_back({name,
                                         "its data would take 4 GiB or more in the archive, "
                                         "which the archive format cannot describe",
                                         true});
    });
}

namespace {

// What was saved of each program, and which programs' secrets were left out, said at the end.
class ProgramCounts {
  public:
    void Saved(const v::ProgramNode& program) { ++saved_[program.Label()]; }
    void LeftOut(const v::ProgramNode& program) { leftOut_.insert(program.Label()); }
    void Report() const {
        for (const auto& [label, count] : saved_)
            v::ReportNote(label + ": " + v::FileCount(count) + " saved");
        for (const auto& label : leftOut_)
            v::ReportNote(label +
                          " were left out: saved passwords and keys go only into sealed "
                          "archives");
    }

  private:
    std::map<std::string, uint64_t> saved_;
    std::set<std::string> leftOut_;
};

class BackupRun {
  public:
    BackupRun(const BackupRequest& request, v::WorkerReport& report, std::stop_token stop,
              BackupOptions options)
        : request_(request), report_(report), stop_(stop), options_(options) {}

    v::Outcome Run() {
        v::Outcome outcome;
        v::OutcomeScope scope(outcome);
        store::StoreSession stores;  // each identity's store opened once for the whole run
        if (auto problem = ValidateBackupChoices(request_); !problem.empty()) {
            outcome.Fail(problem);
            return outcome;
        }
        if (!writer_.Open(text::ToUtf8(request_.archivePath))) {
            outcome.Fail(writer_.Error());
            return outcome;
        }
        v::ExcludedFilesScope notItself(ArchiveFiles());
        WriteArchive(outcome);
        if (stop_.stop_requested()) {
            outcome.cancelled = true;
            writer_.Abort();
        } else if (!outcome.failed && !writer_.Commit()) {
            outcome.Fail(writer_.Error());
        }
        if (writer_.Failed()) outcome.Fail(writer_.Error());
        return outcome;
    }

  private:
    void WriteArchive(v::Outcome& outcome) {
        auto header = ArchiveHeader::Build(request_.compress, request_.encrypt,
                                           request_.archivePath, request_.password);
        std::optional<SealKey> seal;
        std::shared_ptr<const ZstdDictionary> dictionary;
        if (request_.encrypt && !request_.legacyEncryption) {
            auto params = SealParams::Fresh();
            // One after the other, not side by side: together they would take the job past
            // 64 MiB at its peak (the derivation alone takes 48).
            seal = SealKey::Derive(request_.password, params, stop_);
            if (!seal) {
                if (!Stopped())
                    outcome.Fail("the key could not be derived from the password (out of memory?)");
                return;
            }
            if (request_.compress) {
                report_.Activity("Preparing compression");
                dictionary = TrainMailDictionary(request_.sources, request_.withoutOwnItems, stop_);
            }
            seal->Stamp(header, params,
                        request_.compress ? SealScheme::ZstdShared : SealScheme::ZstdPieces);
            entries_.Chain(chain_);
        }
        writer_.Write(header.bytes.data(), header.bytes.size());
        // The messages of a compressed sealed archive share it: it is the archive's first record.
        if (seal && dictionary) {
            entries_.WriteDictionaryRecord(*seal, *dictionary);
            seal->UseDictionary(std::move(dictionary));
        }
        PiecePipeline pipeline(
            request_.compress, request_.encrypt, request_.password, options_.threads,
            [this](const std::vector<uint8_t>& frame) { entries_.Frame(frame); },
            seal ? &*seal : nullptr, request_.quickCompression);
        const auto& sources = request_.sources;
        std::map<std::u16string, uint64_t> messagesOf;  // per identity backed up
        ProgramCounts programs;
        for (size_t i = 0; i < sources.size() && !Stopped(); ++i) {
            const v::ProgramNode* program = v::ProgramOf(sources[i]);
            if (program && program->HoldsSecrets() && !seal) {
                programs.LeftOut(*program);
                continue;
            }
            WriteOne(*sources[i], pipeline);
            if (auto* identity = dynamic_cast<v::MsgStoreIden*>(sources[i]))
                messagesOf.emplace(identity->IdentityId(), 0);
            report_.Progress(i, sources.size());
            if (request_.withoutOwnItems.count(sources[i])) continue;
            sources[i]->ForEachItem([&](std::unique_ptr<v::BasicNode> item) {
                if (Stopped()) return false;
                WriteOne(*item, pipeline);
                if (auto* message = dynamic_cast<v::MsgNode*>(item.get()))
                    ++messagesOf[message->IdentityId()];
                if (program) programs.Saved(*program);
                return true;
            });
        }
        pipeline.Flush();
        if (!Stopped()) programs.Report();
        for (const auto& [identity, count] : messagesOf)
            if (!Stopped()) v::ReportStoreGaps(identity, count);
        bool mailChosen = std::any_of(sources.begin(), sources.end(), [](v::BasicNode* node) {
            return dynamic_cast<v::MsgStore*>(node) != nullptr;
        });
        if (mailChosen && !Stopped()) v::ReportUnreadableStores();
        outcome.itemsDone = entries_.Written();
        outcome.counts = counts_;
        if (seal && !Stopped()) entries_.WriteClosingRecord(*seal, request_.compress);
    }

    void WriteOne(v::BasicNode& node, PiecePipeline& pipeline) {
        report_.Activity(text::ToUtf8(node.GetDisplayName()).c_str());
        size_t before = v::LeftOutCount();
        WriteNodeEntry(node, request_, pipeline, entries_, stop_, &report_);
        if (v::LeftOutCount() != before) return;  // left out (entries are written behind)
        if (dynamic_cast<v::MsgNode*>(&node)) ++counts_.messages;
        if (dynamic_cast<v::FileFolderNode*>(&node) && !node.IsContainer()) ++counts_.files;
        if (dynamic_cast<v::SettingsTreeNode*>(&node)) ++counts_.settings;
    }

    bool Stopped() const { return stop_.stop_requested() || writer_.Failed(); }

    // The archive being written and the file it will replace: a backup into a folder it
    // reads must not read itself.
    std::vector<std::pair<uint64_t, uint64_t>> ArchiveFiles() const {
        std::vector<std::pair<uint64_t, uint64_t>> files;
        for (const std::string& path : {writer_.TempPath(), text::ToUtf8(request_.archivePath)}) {
            struct stat st {};
            if (!path.empty() && ::stat(path.c_str(), &st) == 0)
                files.emplace_back(st.st_dev, st.st_ino);
        }
        return files;
    }

    const BackupRequest& request_;
    v::WorkerReport& report_;
    std::stop_token stop_;
    BackupOptions options_;
    ArchiveWriter writer_;
    EntryWriter entries_{writer_, options_.maxPayloadLength};
    SealChain chain_;
    v::Outcome::Counts counts_;
};

}  // namespace

v::Outcome BackupWorker(const BackupRequest& request, v::WorkerReport& report, std::stop_token stop,
                        BackupOptions options) {
    v::Outcome outcome =
        v::Guarded([&] { return BackupRun(request, report, stop, options).Run(); });
    report.Done();
    return outcome;
}
