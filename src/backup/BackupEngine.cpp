#include "backup/BackupEngine.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/ArchiveHeader.h"
#include "archive/ArchiveWriter.h"
#include "archive/PiecePipeline.h"
#include "archive/Processors.h"
#include "archive/Seal.h"
#include "model/FileNodes.h"
#include "model/NodeIconRegistry.h"
#include "platform/StoreSession.h"
#include "base/Text.h"

using namespace tindale;

namespace {

// Cuts what a node writes into pieces and hands them to the pipeline. A full piece is held
// back until more bytes come, so that the payload's last piece is known as such (a sealed
// frame says whether it ends its payload). Refuses more bytes once a stop is requested, so
// a long copy ends early.
class PieceCutter : public v::BasicStream {
  public:
    PieceCutter(PiecePipeline& pipeline, std::stop_token stop,
                std::shared_ptr<const std::array<uint8_t, v::NodeRecord::kSize>> record)
        : pipeline_(pipeline), stop_(stop), record_(std::move(record)) {
        buffer_.reserve(kPieceSize);
    }
    int32_t Write(const uint8_t* data, int32_t length) override {
        if (stop_.stop_requested()) return 0;
        int32_t done = 0;
        while (done < length) {
            if (buffer_.size() == kPieceSize) Submit(false);
            size_t n = std::min<size_t>(kPieceSize - buffer_.size(), length - done);
            buffer_.insert(buffer_.end(), data + done, data + done + n);
            done += static_cast<int32_t>(n);
        }
        return done;
    }
    int32_t Read(uint8_t*, int32_t) override { return 0; }
    uint64_t GetSize() override { return 0; }
    // Hands over the payload's last piece.
    void Finish() {
        if (!buffer_.empty()) Submit(true);
    }

  private:
    void Submit(bool last) {
        pipeline_.SubmitPiece(buffer_.data(), buffer_.size(), {record_, index_++, last});
        buffer_.clear();
    }

    PiecePipeline& pipeline_;
    std::stop_token stop_;
    std::shared_ptr<const std::array<uint8_t, v::NodeRecord::kSize>> record_;
    uint64_t index_ = 0;
    std::vector<uint8_t> buffer_;
};

}  // namespace

// Entries of the archive being written. Every call arrives in archive order (through the
// pipeline's ordered actions), so frames belong to the entry last begun.
class ArchiveEntries {
  public:
    ArchiveEntries(ArchiveWriter& writer, uint64_t maxPayload)
        : writer_(writer), maxPayload_(maxPayload) {}
    // Entries end while the next node is being read, so their problems go to the job's
    // outcome directly, never to whichever node happens to be reporting at the time.
    void ReportTo(v::Outcome& outcome) { outcome_ = &outcome; }
    // A sealed archive keeps a hash over its records for its closing record.
    void Chain(SealChain& chain) { chain_ = &chain; }

    void Begin(const v::NodeRecord& rec) {
        record_ = rec;
        recordOffset_ = writer_.Position();
        frameBytes_ = 0;
        tooLarge_ = false;
        writer_.Write(rec.bytes.data(), rec.bytes.size());
    }

    void Frame(const std::vector<uint8_t>& frame) {
        if (tooLarge_) return;
        if (frameBytes_ + frame.size() > maxPayload_) {
            tooLarge_ = true;  // keep reading the source, but stop growing the file
            return;
        }
        writer_.Write(frame.data(), frame.size());
        frameBytes_ += frame.size();
    }

    void End(bool leftOutByNode, const std::string& name) {
        if (tooLarge_ && outcome_)
            outcome_->problems.push_back({name,
                                          "its data would take 4 GiB or more in the archive, "
                                          "which the archive format cannot describe",
                                          true});
        if (leftOutByNode || tooLarge_) {
            writer_.TruncateTo(recordOffset_);
            return;
        }
        writer_.PatchU64(recordOffset_ + 48, frameBytes_);
        if (chain_) {
            record_.SetPayloadLength(frameBytes_);
            chain_->Add(record_.bytes.data());
        }
        ++written_;
    }

    uint64_t Written() const { return written_; }

  private:
    ArchiveWriter& writer_;
    uint64_t maxPayload_;
    uint64_t recordOffset_ = 0;
    uint64_t frameBytes_ = 0;
    bool tooLarge_ = false;
    uint64_t written_ = 0;
    v::Outcome* outcome_ = nullptr;
    v::NodeRecord record_;
    SealChain* chain_ = nullptr;
};

std::string ValidateBackupChoices(const WizardState& state) {
    if (state.archivePath.empty()) return "no archive path was given";
    if (state.archivePath.size() > ArchiveHeader::kMaxPathUnits)
        return "the archive path is too long for the archive header (at most 2047 characters)";
    if (state.encrypt && state.legacyEncryption && state.password.size() > kMaxPasswordUnits)
        return "the password is too long for the legacy scheme (at most 27 characters)";
    if (state.encrypt && state.password.size() > 1024) return "the password is too long";
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

void WriteNodeEntry(v::BasicNode& node, const WizardState& state, PiecePipeline& pipeline,
                    ArchiveEntries& entries, std::stop_token stop) {
    v::NodeRecord rec = BuildNodeRecord(node, state.compress, state.encrypt);
    pipeline.SubmitAction([&entries, rec] { entries.Begin(rec); });
    auto record = std::make_shared<const std::array<uint8_t, v::NodeRecord::kSize>>(rec.bytes);
    // The node's own problems, kept apart so that only they decide whether it is left out.
    v::Outcome own;
    {
        v::OutcomeScope scope(own);
        PieceCutter cutter(pipeline, stop, record);
        node.WritePayload(cutter);
        cutter.Finish();
    }
    bool leftOutByNode = own.LeftOut() > 0;
    for (auto& p : own.problems)
        v::ReportProblem(std::move(p.item), std::move(p.reason), p.leftOut);
    for (auto& n : own.notes) v::ReportNote(std::move(n));
    pipeline.SubmitAction([&entries, leftOutByNode, name = text::ToUtf8(node.GetDisplayName())] {
        entries.End(leftOutByNode, name);
    });
}

namespace {

class BackupRun {
  public:
    BackupRun(const WizardState& state, v::WorkerReport& report, std::stop_token stop,
              BackupOptions options)
        : state_(state), report_(report), stop_(stop), options_(options) {}

    v::Outcome Run() {
        v::Outcome outcome;
        v::OutcomeScope scope(outcome);
        store::StoreSession stores;  // each identity's store opened once for the whole run
        if (auto problem = ValidateBackupChoices(state_); !problem.empty()) {
            outcome.Fail(problem);
            return outcome;
        }
        if (!writer_.Open(text::ToUtf8(state_.archivePath))) {
            outcome.Fail(writer_.Error());
            return outcome;
        }
        entries_.ReportTo(outcome);
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
        auto header = ArchiveHeader::Build(state_.compress, state_.encrypt, state_.archivePath,
                                           state_.password);
        std::optional<SealKey> seal;
        if (state_.encrypt && !state_.legacyEncryption) {
            auto params = SealParams::Fresh();
            seal = SealKey::Derive(state_.password, params);
            if (!seal) {
                outcome.Fail("the key could not be derived from the password (out of memory?)");
                return;
            }
            seal->Stamp(header, params);
            entries_.Chain(chain_);
        }
        writer_.Write(header.bytes.data(), header.bytes.size());
        PiecePipeline pipeline(
            state_.compress, state_.encrypt, state_.password, options_.threads,
            [this](const std::vector<uint8_t>& frame) { entries_.Frame(frame); },
            seal ? &*seal : nullptr);
        const auto& sources = state_.backupSources;
        for (size_t i = 0; i < sources.size() && !Stopped(); ++i) {
            WriteOne(*sources[i], pipeline);
            report_.Progress(i, sources.size());
            v::OwnedNodes items;
            sources[i]->EnumItems(items.list);
            for (v::BasicNode* item : items.list) {
                if (Stopped()) break;
                WriteOne(*item, pipeline);
            }
        }
        pipeline.Flush();
        outcome.itemsDone = entries_.Written();
        if (seal && !Stopped()) WriteClosingRecord(*seal);
    }

    // The last record of a sealed archive: how many records came before it and a hash over
    // them all, sealed like any frame, so that a cut, reordered or spliced archive is found.
    void WriteClosingRecord(const SealKey& seal) {
        v::NodeRecord rec;
        rec.SetTypeGuid(kSealClosingType);
        rec.SetInstanceGuid(Guid::NewRandom());
        rec.SetFlags(state_.compress, true);  // encoded like every other record
        auto closing = chain_.Closing();
        std::vector<uint8_t> frame;
        auto record = std::make_shared<const std::array<uint8_t, v::NodeRecord::kSize>>(rec.bytes);
        ProcessPiece({state_.compress, true, {}, &seal}, closing.data(), closing.size(), frame,
                     {record, 0, true});
        rec.SetPayloadLength(frame.size());
        writer_.Write(rec.bytes.data(), rec.bytes.size());
        writer_.Write(frame.data(), frame.size());
    }

    void WriteOne(v::BasicNode& node, PiecePipeline& pipeline) {
        report_.Activity(text::ToUtf8(node.GetDisplayName()).c_str());
        WriteNodeEntry(node, state_, pipeline, entries_, stop_);
    }

    bool Stopped() const { return stop_.stop_requested() || writer_.Failed(); }

    // The archive being written and the file it will replace: a backup into a folder it
    // reads must not read itself.
    std::vector<std::pair<uint64_t, uint64_t>> ArchiveFiles() const {
        std::vector<std::pair<uint64_t, uint64_t>> files;
        for (const std::string& path : {writer_.TempPath(), text::ToUtf8(state_.archivePath)}) {
            struct stat st {};
            if (!path.empty() && ::stat(path.c_str(), &st) == 0)
                files.emplace_back(st.st_dev, st.st_ino);
        }
        return files;
    }

    const WizardState& state_;
    v::WorkerReport& report_;
    std::stop_token stop_;
    BackupOptions options_;
    ArchiveWriter writer_;
    ArchiveEntries entries_{writer_, options_.maxPayloadLength};
    SealChain chain_;
};

}  // namespace

v::Outcome BackupWorker(const WizardState& state, v::WorkerReport& report, std::stop_token stop,
                        BackupOptions options) {
    v::Outcome outcome = v::Guarded([&] { return BackupRun(state, report, stop, options).Run(); });
    report.Done();
    return outcome;
}
