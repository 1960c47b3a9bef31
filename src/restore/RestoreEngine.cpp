#include "restore/RestoreEngine.h"

#include <cstring>
#include <set>

#include "archive/ArchiveReader.h"
#include "model/MessageNodes.h"
#include "model/NodeFactory.h"
#include "platform/AtomicFile.h"
#include "platform/StoreSession.h"
#include "platform/Text.h"

using namespace tindale;

namespace {

std::string Name(const v::NodeRecord& rec) {
    std::string name = text::ToUtf8(rec.DisplayName());
    return name.empty() ? "(unnamed item)" : name;
}

void RestoreRecord(ArchiveReader& reader, WizardState& state) {
    const v::NodeRecord& rec = reader.Record();
    FrameDecodingStream payload(reader.PayloadStream(), rec, state.password);
    std::unique_ptr<v::BasicNode> node(
        v::NodeFactoryRegistry::Instance().FindFactoryAndCreate(rec, &payload));
    if (!node) {
        v::ReportProblem(Name(rec), "its type is unknown to this version; it was not restored");
        return;
    }
    size_t before = v::LeftOutCount();
    node->restoreContext = &state;
    node->RestorePayload(payload);
    if (payload.Damaged() && v::LeftOutCount() == before)
        v::ReportProblem(Name(rec), "part of its data in the archive is damaged");
}

// Publishes what the restore wrote and still holds in its batch, and saves the stores'
// id maps: nothing counts as restored before it is on disk.
void MakeDurable(durable::PublishBatch& batch, store::StoreSession& stores) {
    batch.Flush();
    for (const auto& failure : batch.TakeFailures())
        v::ReportProblem(failure.target,
                         std::string("could not be written: ") + std::strerror(failure.error));
    if (int error = stores.Flush())
        v::ReportProblem("the message store",
                         std::string("its message ids could not be saved: ") + std::strerror(error),
                         false);
}

}  // namespace

v::Outcome RestoreWorker(WizardState& state, v::WorkerReport& report, std::stop_token stop) {
    v::Outcome outcome;
    {
        v::OutcomeScope scope(outcome);
        store::StoreSession stores;
        durable::PublishBatch batch;
        durable::PublishScope publishing(batch);
        if (state.clearIdentity && state.restoreIdentity.empty())
            outcome.Fail("no destination identity was chosen, so none was emptied");
        else if (state.clearIdentity && !v::EmptyIdentityStore(state.restoreIdentity))
            outcome.Fail("the messages of the destination identity could not be deleted");
        v::FileStream file(ArchiveReader::OpenArchiveFd(text::ToUtf8(state.archivePath)));
        ArchiveReader reader;
        if (!file.IsOpen() || !reader.OpenArchiveFile(&file)) {
            outcome.Fail("the archive cannot be read");
        } else if (reader.Header().Encrypted() && !reader.Header().CheckPassword(state.password)) {
            outcome.Fail("wrong password");
        } else {
            std::set<Guid> chosen;
            for (const auto& rec : state.restoreItems) chosen.insert(rec.InstanceGuid());
            report.ProgressSent(0, state.restoreItems.size());
            for (; !reader.AtEnd() && !stop.stop_requested(); reader.Advance()) {
                if (!chosen.count(reader.Record().InstanceGuid())) continue;
                report.Activity(Name(reader.Record()).c_str());
                RestoreRecord(reader, state);
                ++outcome.itemsDone;
                report.ProgressSent(reader.RecordIndex(), 0);
            }
            if (stop.stop_requested())
                outcome.cancelled = true;
            else if (reader.Reason() == ArchiveReader::EndReason::Truncated)
                v::ReportProblem("the archive", "it is truncated after " +
                                                    std::to_string(reader.RecordIndex()) +
                                                    " items; later items are missing");
        }
        MakeDurable(batch, stores);
    }
    report.Done();
    return outcome;
}
