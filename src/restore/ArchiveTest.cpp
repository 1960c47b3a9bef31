#include "restore/ArchiveTest.h"

#include "archive/ArchiveReader.h"
#include "platform/Text.h"

using namespace tindale;

std::string ArchiveTestResult::Describe() const {
    switch (verdict) {
        case Verdict::Sound:
            return "the archive has no error (" + std::to_string(records) + " items)";
        case Verdict::NotAnArchive:
            return "the file is not an archive";
        case Verdict::CannotOpen:
            return "the file cannot be opened";
        case Verdict::Truncated:
            return "the archive is truncated after " + std::to_string(records) + " items";
        case Verdict::Damaged:
            return "the archive is damaged: item \"" + damagedItem + "\" does not decode";
        case Verdict::Cancelled:
            return "the test was cancelled";
    }
    return {};
}

namespace {

// Unencrypted frames can be checked without the password: decode them and throw the output away.
bool FramesDecode(ArchiveReader& reader) {
    const auto& rec = reader.Record();
    if (rec.Encrypted()) return true;
    FrameDecodingStream frames(reader.PayloadStream(), rec, u"");
    frames.Drain();
    return !frames.Damaged();
}

}  // namespace

ArchiveTestResult TestArchiveWorker(const WizardState& state, v::WorkerReport& report,
                                    std::stop_token stop) {
    using V = ArchiveTestResult::Verdict;
    ArchiveTestResult result;
    v::FileStream file(ArchiveReader::OpenArchiveFd(text::ToUtf8(state.archivePath)));
    ArchiveReader reader;
    report.ProgressSent(0, 100);
    if (!file.IsOpen()) {
        result.verdict = V::CannotOpen;
    } else if (!reader.OpenArchiveFile(&file)) {
        result.verdict = V::NotAnArchive;
    } else {
        uint64_t size = std::max<uint64_t>(reader.FileSize(), 1);
        for (; !reader.AtEnd(); reader.Advance()) {
            if (stop.stop_requested()) {
                result.verdict = V::Cancelled;
                break;
            }
            if (result.verdict == V::Sound && !FramesDecode(reader)) {
                result.verdict = V::Damaged;
                result.damagedItem = text::ToUtf8(reader.Record().DisplayName());
            }
            ++result.records;
            auto percent = static_cast<uint32_t>(100.0 * reader.GoodBytes() / size);
            // Only a new percentage moves the bar: sending the same one again would make
            // the worker wait for the page once per record for nothing.
            if (percent != result.percent) report.ProgressSent(percent, 0);
            result.percent = percent;
        }
        if (result.verdict == V::Sound && reader.Reason() != ArchiveReader::EndReason::CleanEnd)
            result.verdict = V::Truncated;
    }
    report.Done();
    return result;
}
