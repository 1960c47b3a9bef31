#include "dupfinder/DuplicateHandling.h"

#include <unistd.h>

#include <algorithm>
#include <set>

#include "base/Streams.h"
#include "base/Text.h"
#include "model/MessageNodes.h"
#include "platform/MailStore.h"
#include "platform/StoreSession.h"

using namespace tindale;
using namespace tindale::store;

namespace {

std::unique_ptr<StoreFolder> OpenFolder(StoreNamespace& ns, uint32_t folderId) {
    std::unique_ptr<StoreFolder> folder;
    if (ns.OpenFolder(folderId, folder) != S_OK) return nullptr;
    return folder;
}

std::string Name(const DuplicateEntry& e) {
    if (!e.folderName.empty() && !e.file.empty()) return e.folderName + "/" + e.file;
    return text::ToUtf8(e.identityId) + " folder " + std::to_string(e.folderId) + " message " +
           std::to_string(e.messageId);
}

// The copy that stays takes the flags of the copies that went (one read, another flagged:
// the one kept is read and flagged).
void GiveKeptCopyItsFlags(const DuplicateEntry& entry) {
    if (entry.keptId == 0 || entry.keptFlags.empty()) return;
    auto ns = v::OpenStoreFor(entry.identityId);
    auto folder = ns ? OpenFolder(*ns, entry.folderId) : nullptr;
    if (!folder || folder->SetFlags(entry.keptId, entry.keptFlags) == E_FAIL)
        v::ReportProblem(Name(entry),
                         "the copy kept could not be given the flags of the copies "
                         "removed (" +
                             entry.keptFlags + ")",
                         false);
}

}  // namespace

std::vector<DuplicateEntry> KeepInFolders(const std::vector<DuplicateEntry>& all,
                                          const std::set<FolderKey>& folders) {
    std::vector<DuplicateEntry> kept;
    for (const auto& d : all)
        if (folders.count({d.identityId, d.folderId})) kept.push_back(d);
    return kept;
}

bool DeleteDuplicate(const DuplicateEntry& entry, std::string& why) {
    auto ns = v::OpenStoreFor(entry.identityId);
    auto folder = ns ? OpenFolder(*ns, entry.folderId) : nullptr;
    if (!folder) {
        why = "its folder cannot be opened";
        return false;
    }
    HRESULT hr = folder->DeleteMessages({entry.messageId});
    if (hr != S_OK) why = hr == S_FALSE ? "it is no longer there" : "it cannot be deleted";
    return hr == S_OK;
}

namespace {

// Copies a duplicate into the target folder (committed there); the source stays.
bool CopyDuplicate(const DuplicateEntry& entry, const std::u16string& targetIdentity,
                   uint32_t targetFolder, std::string& why) {
    v::MemoryStream source;
    MessageState state;  // the moved copy keeps its flags and arrival time
    {
        auto ns = v::OpenStoreFor(entry.identityId);
        auto folder = ns ? OpenFolder(*ns, entry.folderId) : nullptr;
        int fd = -1;
        if (!folder || folder->OpenMessage(entry.messageId, fd, &state) != S_OK) {
            why = "it cannot be read";
            return false;
        }
        v::FileStream message(fd);
        v::CopyStream(message, source);
    }
    {
        auto ns = v::OpenStoreFor(targetIdentity);
        auto folder = ns ? OpenFolder(*ns, targetFolder) : nullptr;
        std::unique_ptr<PendingMessage> pending;
        uint32_t newId = 0;
        if (!folder || folder->CreateStream(pending) != S_OK) {
            why = "the target folder cannot be opened";
            return false;
        }
        v::FileStream target(::dup(pending->Fd()));
        bool written = v::CopyStream(source, target) == source.GetSize() && target.Close();
        if (!written || folder->CommitStream(*pending, newId, &state) != S_OK) {
            why = "it could not be written to the target folder; it was left where it was";
            return false;
        }
    }
    return true;
}

// Deletes the duplicates of one folder at once: an mbox folder is written again once for
// all of them, not once for each. Returns, per entry, an empty string or why it stayed.
std::vector<std::string> DeleteFromOneFolder(const std::vector<const DuplicateEntry*>& entries) {
    std::vector<std::string> why(entries.size());
    if (entries.empty()) return why;
    auto ns = v::OpenStoreFor(entries[0]->identityId);
    auto folder = ns ? OpenFolder(*ns, entries[0]->folderId) : nullptr;
    if (!folder) {
        std::fill(why.begin(), why.end(), "its folder cannot be opened");
        return why;
    }
    std::vector<uint32_t> present;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (folder->MessageFiles().Find(entries[i]->messageId))
            present.push_back(entries[i]->messageId);
        else
            why[i] = "it is no longer there";
    }
    if (present.empty()) return why;
    folder->DeleteMessages(present);
    // What is still listed was not deleted (a file that cannot be removed, an mbox folder
    // that cannot be written); what went is no longer listed.
    for (size_t i = 0; i < entries.size(); ++i)
        if (why[i].empty() && folder->MessageFiles().Find(entries[i]->messageId))
            why[i] = "it cannot be deleted";
    return why;
}

}  // namespace

bool MoveDuplicate(const DuplicateEntry& entry, const std::u16string& targetIdentity,
                   uint32_t targetFolder, std::string& why) {
    if (!CopyDuplicate(entry, targetIdentity, targetFolder, why)) return false;
    if (!DeleteDuplicate(entry, why)) {
        why = "it was copied to the target folder, but the original could not be removed: " + why;
        return false;
    }
    return true;
}

namespace {

// Why one of the stores the request writes into cannot be written now (its mail client has
// it open), said once rather than once for every copy; empty when all can.
std::string WriteRefusal(const DuplicateRequest& request) {
    std::set<std::u16string> identities;
    for (const auto& d : request.duplicates) identities.insert(d.identityId);
    if (request.action == DuplicateAction::Move) identities.insert(request.targetIdentity);
    for (const auto& identity : identities)
        if (auto ns = v::OpenStoreFor(identity))
            if (auto refusal = ns->WriteRefusal(); !refusal.empty())
                return refusal + "; nothing was deleted or moved";
    return {};
}

v::Outcome RunProcessDuplicates(const DuplicateRequest& request, v::WorkerReport& report,
                                std::stop_token stop) {
    v::Outcome outcome;
    v::OutcomeScope scope(outcome);
    store::StoreSession stores;  // each store opened once for the whole run
    if (request.action == DuplicateAction::Move &&
        std::any_of(request.duplicates.begin(), request.duplicates.end(), [&](const auto& d) {
            return d.identityId == request.targetIdentity && d.folderId == request.targetFolder;
        })) {
        outcome.Fail(kMoveIntoSearchedFolder);
        return outcome;
    }
    if (auto refusal = WriteRefusal(request); !refusal.empty()) {
        outcome.Fail(refusal);
        return outcome;
    }
    const auto& all = request.duplicates;
    report.ProgressSent(0, all.size());
    // Folder by folder: a move copies each duplicate first, then the copies that arrived are
    // deleted from their folder together. A Cancel still deletes what was copied already.
    for (size_t begin = 0; begin < all.size() && !outcome.cancelled;) {
        size_t end = begin + 1;
        while (end < all.size() && all[end].identityId == all[begin].identityId &&
               all[end].folderId == all[begin].folderId)
            ++end;
        std::vector<const DuplicateEntry*> toDelete;
        for (size_t i = begin; i < end; ++i) {
            if (stop.stop_requested()) {
                outcome.cancelled = true;
                break;
            }
            report.ProgressSent(i, 0);
            std::string why;
            if (request.action == DuplicateAction::Move &&
                !CopyDuplicate(all[i], request.targetIdentity, request.targetFolder, why))
                outcome.problems.push_back({Name(all[i]), why, true});
            else
                toDelete.push_back(&all[i]);
        }
        auto why = DeleteFromOneFolder(toDelete);
        for (size_t k = 0; k < toDelete.size(); ++k) {
            if (!why[k].empty()) {
                std::string reason = request.action == DuplicateAction::Move
                                         ? "it was copied to the target folder, but the "
                                           "original could not be removed: " +
                                               why[k]
                                         : why[k];
                outcome.problems.push_back({Name(*toDelete[k]), reason, true});
                continue;
            }
            ++outcome.itemsDone;
            GiveKeptCopyItsFlags(*toDelete[k]);
        }
        begin = end;
    }
    return outcome;
}

}  // namespace

v::Outcome ProcessDuplicates(const DuplicateRequest& request, v::WorkerReport& report,
                             std::stop_token stop) {
    v::Outcome outcome = v::Guarded([&] { return RunProcessDuplicates(request, report, stop); });
    report.Done();
    return outcome;
}
