#include "restore/RestoreEngine.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

#include "archive/ArchiveReader.h"
#include "base/AtomicFile.h"
#include "base/Text.h"
#include "base/WriteQueue.h"
#include "model/FileNodes.h"
#include "model/FolderState.h"
#include "model/ItemProgress.h"
#include "model/MessageNodes.h"
#include "model/NodeFactory.h"
#include "model/ProgramNodes.h"
#include "model/RegistryNodes.h"
#include "platform/Identities.h"
#include "platform/StoreDiscovery.h"
#include "platform/StoreSession.h"
#include "restore/ArchiveTest.h"
#include "restore/FileSources.h"
#include "restore/IdentityMap.h"
#include "restore/MailSources.h"

using namespace tindale;

namespace {

std::string Name(const v::NodeRecord& rec) {
    std::string name = text::ToUtf8(rec.DisplayName());
    return name.empty() ? "(unnamed item)" : name;
}

// A decoded payload held in memory (a source root's header), keeping whether it was damaged.
class DecodedPayload : public v::MemoryStream {
  public:
    DecodedPayload(std::vector<uint8_t> bytes, bool damaged)
        : v::MemoryStream(std::move(bytes)), damaged_(damaged) {}
    bool Damaged() const override { return damaged_; }

  private:
    bool damaged_;
};

std::vector<uint8_t> ReadAll(v::BasicStream& in) {
    std::vector<uint8_t> out;
    uint8_t buffer[16384];
    while (int32_t n = in.Read(buffer, sizeof buffer)) out.insert(out.end(), buffer, buffer + n);
    return out;
}

struct Sources {
    v::FileRestoreOptions fileOptions;
    FileSources files;
    MailSources mail;
    // Mail clients' sync state, written once the messages of its folder are back.
    std::vector<v::PendingClientFile> syncState;
    IdentityMap identities;  // where each archived identity's mail goes when none was chosen
};

// The identity that receives a mail record's folders and messages: the chosen one, else the
// archived identity's own here (IdentityMap).
std::u16string MailDestination(const std::u16string& chosen, Sources& sources,
                               const v::NodeRecord& rec) {
    if (!chosen.empty()) return chosen;
    return sources.identities.For(sources.mail.IdentityOf(rec));
}

// A mail folder's record makes the folder, so that folders empty at the backup come back,
// with the files its mail clients keep in it.
void RestoreMailFolder(const v::NodeRecord& rec, v::BasicStream& payload,
                       const std::u16string& identity, Sources& sources) {
    auto path = sources.mail.FolderPath(rec);
    if (!path) return;
    v::RestoreStoreFolder(MailDestination(identity, sources, rec), *path,
                          v::ReadFolderState(payload), sources.syncState);
}

// A program's files are written only while it is closed: the first of them says so once.
bool ProgramRefuses(FileSources::Program* program) {
    if (!program || !program->refusal) return false;
    if (!program->told)
        v::ReportProblem(program->label, *program->refusal +
                                             ": its files were not restored (close it and "
                                             "restore again)");
    program->told = true;
    return true;
}

void RestoreRecord(const v::NodeRecord& rec, v::BasicStream& payload,
                   const std::u16string& identity, Sources& all) {
    FileSources& sources = all.files;
    bool planning = all.fileOptions.plan != nullptr;
    if (planning && rec.TypeGuid() != v::FileFolderNode::kTypeGuid) return;  // files only
    if (rec.TypeGuid() == v::MsgFolder::kTypeGuid)
        return RestoreMailFolder(rec, payload, identity, all);
    FileSources::Program* program = sources.ProgramFor(rec);
    if (ProgramRefuses(program)) return;
    std::unique_ptr<v::BasicNode> node(
        v::NodeFactoryRegistry::Instance().FindFactoryAndCreate(rec, &payload));
    if (!node) {
        v::ReportProblem(Name(rec), "its type is unknown to this version; it was not restored");
        return;
    }
    if (auto* file = dynamic_cast<v::FileFolderNode*>(node.get())) {
        file->SetRestoreRoot(sources.RootFor(rec));
        file->SetRestoreOptions(&all.fileOptions);
    }
    size_t before = v::LeftOutCount();
    v::Outcome* outcome = v::CurrentOutcome();
    uint64_t thereBefore = outcome ? outcome->alreadyThere : 0;
    if (auto* message = dynamic_cast<v::MsgNode*>(node.get())) {
        message->SetRestoreIdentity(identity);
        if (identity.empty()) message->SetFallbackIdentity(MailDestination(identity, all, rec));
    }
    uint64_t restored = node->RestorePayload(payload);
    bool file = rec.TypeGuid() == v::FileFolderNode::kTypeGuid && !rec.IsContainer();
    if (program && restored > 0 && file) ++program->filesRestored;
    if (outcome && v::LeftOutCount() == before && !planning) {
        if (file && restored > 0) ++outcome->counts.files;
        if (dynamic_cast<v::MsgNode*>(node.get()) && outcome->alreadyThere == thereBefore)
            ++outcome->counts.messages;
        if (dynamic_cast<v::SettingsTreeNode*>(node.get())) ++outcome->counts.settings;
    }
    if (payload.Damaged() && v::LeftOutCount() == before)
        v::ReportProblem(Name(rec), "part of its data in the archive is damaged");
}

// Learns the record's file source (reading a source root's header, which is small) and
// restores it when it was chosen.
// The archive moves on to another mail folder: the messages restored so far are published
// (so that their files are where the indexes say) and the indexes of the folders they went
// to are saved and dropped, so that a restore holds one folder's index at a time.
void ReleaseFolderIndexes() {
    auto* session = store::CurrentStoreSession();
    if (!session) return;
    if (auto* batch = durable::CurrentBatch()) batch->Flush();
    session->ReleaseIndexes();
}

// Whether the walk reads a record's payload for what it says of its source.
bool PayloadNeeded(const v::NodeRecord& rec) {
    return FileSources::NeedsPayload(rec) || MailSources::NeedsPayload(rec);
}

void VisitRecord(ArchiveReader& reader, const RestoreRequest& request,
                 const std::u16string& identity, Sources& sources, bool chosen, const SealKey* seal,
                 v::WorkerReport& report) {
    const v::NodeRecord& rec = reader.Record();
    FrameDecodingStream frames(reader, request.password, seal);
    if (rec.TypeGuid() == v::MsgFolder::kTypeGuid) {
        ReleaseFolderIndexes();  // the folder before is done: its messages are published
        v::PublishClientFiles(sources.syncState);
    }
    if (!PayloadNeeded(rec)) {
        sources.mail.Observe(rec);
        sources.files.Observe(rec);
        bool file = rec.TypeGuid() == v::FileFolderNode::kTypeGuid;
        v::ItemProgressStream counted(frames, report, file);
        if (chosen) RestoreRecord(rec, counted, identity, sources);
        return;
    }
    auto bytes = ReadAll(frames);
    sources.mail.Observe(rec, &bytes);
    sources.files.Observe(rec, &bytes);
    DecodedPayload payload(std::move(bytes), frames.Damaged());
    if (chosen) RestoreRecord(rec, payload, identity, sources);
}

// Waits for the files still in the writing queue, publishes what the batch holds, and saves
// the stores' id maps: nothing counts as restored before it is on disk.
void MakeDurable(durable::WriteQueue& queue, durable::PublishBatch& batch,
                 store::StoreSession& stores) {
    auto report = [](const std::vector<durable::PublishBatch::Failure>& failures,
                     const std::string& what) {
        for (const auto& failure : failures)
            v::ReportProblem(failure.target, what + std::strerror(failure.error));
    };
    queue.Drain();
    report(queue.TakeFailures(), "cannot be written: ");
    batch.Flush();
    report(batch.TakeFailures(), "could not be written: ");
    if (int error = stores.Flush())
        v::ReportProblem("the message store",
                         std::string("its message ids could not be saved: ") + std::strerror(error),
                         false);
}

}  // namespace

namespace {

// Empties the destination identity (with each identity to its own, every identity here that
// receives the archive's mail by name), but only once the archive has been walked and found
// sound: a damaged or cut archive must never cost the person the mail they had.
bool EmptyDestination(const RestoreRequest& request, v::Outcome& outcome, v::WorkerReport& report,
                      std::stop_token stop, const SealKey* seal) {
    std::vector<identities::Identity> targets;
    if (!request.identity.empty())
        targets.push_back(identities::Find(request.identity)
                              .value_or(identities::Identity{request.identity, request.identity}));
    else
        targets = ReceivingIdentities(request.items, request.identityFor);
    if (targets.empty()) {
        v::ReportNote("no identity here receives this archive's mail, so none was emptied");
        return true;
    }
    for (const auto& target : targets)
        if (auto store = store::OpenIdentityStore(target.id)) {
            if (auto refusal = store->WriteRefusal(); !refusal.empty()) {
                outcome.Fail(refusal + "; nothing was deleted or restored");
                return false;
            }
        }
    auto check =
        TestArchive(text::ToUtf8(request.archivePath), request.password, &report, stop, seal);
    if (check.verdict == ArchiveTestResult::Verdict::Cancelled) {
        outcome.cancelled = true;
        return false;
    }
    if (check.verdict != ArchiveTestResult::Verdict::Sound) {
        outcome.Fail(check.Describe() +
                     "; the destination identity was not emptied and nothing was restored");
        return false;
    }
    for (const auto& target : targets) {
        size_t before = v::CountIdentityMessages(target.id);
        if (!v::EmptyIdentityStore(target.id)) {
            outcome.Fail("the messages of \"" + text::ToUtf8(target.name) +
                         "\" could not be deleted");
            return false;
        }
        v::ReportNote(std::to_string(before) + " messages of \"" + text::ToUtf8(target.name) +
                      "\" were deleted before the restore, as asked");
    }
    return true;
}

void ReportSealVerdict(SealWalk::Verdict verdict) {
    if (verdict != SealWalk::Verdict::Sound)
        v::ReportProblem("the archive", SealWalk::Describe(verdict),
                         verdict == SealWalk::Verdict::NoClosingRecord);
}

// A sealed archive is checked record by record against its closing record before anything
// is written or deleted: a forged, cut or spliced archive restores nothing. (Payloads are
// passed over; each frame is authenticated again as it is restored.)
bool SealedChainSound(const RestoreRequest& request, const SealKey& key, v::Outcome& outcome,
                      std::stop_token stop) {
    ArchiveReader reader;
    if (reader.Open(text::ToUtf8(request.archivePath)) != ArchiveReader::OpenStatus::Readable) {
        outcome.Fail("the archive cannot be read");
        return false;
    }
    auto verdict = SealWalk::CheckChain(reader, key, [&stop] { return !stop.stop_requested(); });
    if (stop.stop_requested()) {
        outcome.cancelled = true;
        return false;
    }
    if (verdict == SealWalk::Verdict::Sound) return true;
    outcome.Fail("the archive does not authenticate: " + SealWalk::Describe(verdict) +
                 "; nothing was restored or deleted");
    return false;
}

// What a request chooses: every record, or the ones it lists.
class Choice {
  public:
    explicit Choice(const RestoreRequest& request)
        : everything_(request.everything), filesOnly_(request.plan != nullptr) {
        if (everything_) {
            CountArchive(request);
            return;
        }
        for (const auto& rec : request.items) {
            listed_->insert(rec.InstanceGuid());
            messages_ += rec.TypeGuid() == v::MsgNode::kTypeGuid;
        }
        items_ = listed_->size();
    }
    bool Wants(const v::NodeRecord& rec) const {
        if (everything_) return !IsSealRecord(rec.TypeGuid());
        return listed_->count(rec.InstanceGuid()) > 0;
    }
    size_t Items() const { return items_; }
    size_t Messages() const { return messages_; }
    // For the threads decoding ahead, which may outlive the choice: they share the list.
    FrameLookahead::Wanted AheadFilter() const {
        auto listed = listed_;
        bool all = everything_, filesOnly = filesOnly_;
        return [listed, all, filesOnly](const v::NodeRecord& rec) {
            if (filesOnly && rec.TypeGuid() != v::FileFolderNode::kTypeGuid)
                return PayloadNeeded(rec);  // a plan reads only the files' headers
            return (all ? !IsSealRecord(rec.TypeGuid()) : listed->count(rec.InstanceGuid()) > 0) ||
                   PayloadNeeded(rec);
        };
    }

  private:
    // A pass over the records alone (payloads passed over): how many, how many messages.
    void CountArchive(const RestoreRequest& request) {
        ArchiveReader reader;
        if (reader.Open(text::ToUtf8(request.archivePath)) != ArchiveReader::OpenStatus::Readable)
            return;
        for (; !reader.AtEnd(); reader.Advance()) {
            if (IsSealRecord(reader.Record().TypeGuid())) continue;
            ++items_;
            messages_ += reader.Record().TypeGuid() == v::MsgNode::kTypeGuid;
        }
    }
    bool everything_;
    bool filesOnly_;
    std::shared_ptr<std::set<Guid>> listed_ = std::make_shared<std::set<Guid>>();
    size_t items_ = 0;
    size_t messages_ = 0;
};

// When the archive was written, for files whose records do not say when they were changed.
v::FileTime ArchiveTime(const RestoreRequest& request) {
    struct stat st {};
    if (::stat(text::ToUtf8(request.archivePath).c_str(), &st) != 0) return {};
    return {st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec)};
}

// Returns how many of the chosen messages were restored (or found wanting).
size_t RestoreChosen(ArchiveReader& reader, const RestoreRequest& request, const Choice& chosen,
                     const std::u16string& identity, v::Outcome& outcome, v::WorkerReport& report,
                     std::stop_token stop, const SealKey* seal) {
    size_t messagesDone = 0;
    report.ProgressSent(0, chosen.Items());
    Sources sources;
    sources.fileOptions = {request.keepNewer, ArchiveTime(request), request.plan};
    sources.identities.Choose(request.identityFor);
    std::optional<SealWalk> walk;
    if (seal) walk.emplace(*seal);
    reader.DecodeAhead(request.password, seal, chosen.AheadFilter());
    for (; !reader.AtEnd() && !stop.stop_requested(); reader.Advance()) {
        if (walk && walk->Observe(reader)) continue;
        bool wanted = chosen.Wants(reader.Record());
        if (wanted) report.Activity(Name(reader.Record()).c_str());
        VisitRecord(reader, request, identity, sources, wanted, seal, report);
        if (!wanted) continue;
        if (reader.Record().TypeGuid() == v::MsgNode::kTypeGuid) ++messagesDone;
        ++outcome.itemsDone;
        report.ProgressSent(outcome.itemsDone, 0);
    }
    ReleaseFolderIndexes();
    v::PublishClientFiles(sources.syncState);
    for (const auto& program : sources.files.Programs())
        if (program.filesRestored > 0)
            v::ReportNote(program.label + ": " + v::FileCount(program.filesRestored) + " restored");
    if (stop.stop_requested())
        outcome.cancelled = true;
    else if (walk)
        ReportSealVerdict(walk->Finish(reader));
    else if (reader.Reason() == ArchiveReader::EndReason::Truncated)
        v::ReportProblem("the archive", reader.DescribeEnd() + "; later items are missing");
    return messagesDone;
}

}  // namespace

namespace {

// Opens the archive and unlocks it with the request's key when that fits, else with its
// password.
ArchiveReader::OpenStatus OpenArchive(ArchiveReader& reader, const RestoreRequest& request,
                                      std::stop_token stop) {
    auto status = reader.Open(text::ToUtf8(request.archivePath));
    if (status != ArchiveReader::OpenStatus::Readable) return status;
    if (request.key && request.key->Fits(reader.Header())) {
        reader.UseKey(*request.key);
        return status;
    }
    return reader.Unlock(request.password, stop);
}

v::Outcome RunRestoreWorker(const RestoreRequest& request, v::WorkerReport& report,
                            std::stop_token stop) {
    v::Outcome outcome;
    {
        v::OutcomeScope scope(outcome);
        store::StoreSession stores;
        durable::PublishBatch batch;
        durable::PublishScope publishing(batch);
        durable::WriteQueue writer(batch, "tindale", stop);
        durable::WriteScope writing(writer);
        ArchiveReader reader;
        auto status = OpenArchive(reader, request, stop);
        if (status == ArchiveReader::OpenStatus::WrongPassword) {
            outcome.Fail("wrong password");  // found from the header alone, before any deletion
        } else if (status == ArchiveReader::OpenStatus::Cancelled) {
            outcome.cancelled = true;
        } else if (status == ArchiveReader::OpenStatus::DamagedHeader) {
            outcome.Fail("the archive's header is damaged, so no password can open it");
        } else if (status != ArchiveReader::OpenStatus::Readable) {
            outcome.Fail("the archive cannot be read");
        } else if (reader.Key() && !SealedChainSound(request, *reader.Key(), outcome, stop)) {
            // refused before anything was touched
        } else if (!request.clearIdentity || request.plan) {
            Choice chosen(request);
            RestoreChosen(reader, request, chosen, request.identity, outcome, report, stop,
                          reader.Key());
        } else if (EmptyDestination(request, outcome, report, stop, reader.Key())) {
            Choice chosen(request);
            size_t restored = RestoreChosen(reader, request, chosen, request.identity, outcome,
                                            report, stop, reader.Key());
            if (outcome.cancelled)
                v::ReportNote("the destination identity was emptied, and " +
                              std::to_string(restored) + " of " +
                              std::to_string(chosen.Messages()) +
                              " messages were restored before the restore was stopped; run the "
                              "same restore again to finish it");
        }
        MakeDurable(writer, batch, stores);
    }
    return outcome;
}

}  // namespace

v::Outcome RestoreWorker(const RestoreRequest& request, v::WorkerReport& report,
                         std::stop_token stop) {
    v::Outcome outcome = v::Guarded([&] { return RunRestoreWorker(request, report, stop); });
    report.Done();
    return outcome;
}
