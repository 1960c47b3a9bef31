#include "restore/ArchiveTest.h"

#include <exception>

#include "archive/ArchiveReader.h"
#include "archive/PieceCodec.h"
#include "archive/Processors.h"
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
        case Verdict::Failed:
            return "the test failed: " + damagedItem;
    }
    return {};
}

namespace {

// Without the key, an encrypted payload can still be checked for its shape: every frame
// complete, and each DES frame's lengths consistent with the frame.
bool EncryptedFramesWellFormed(v::BasicStream& payload) {
    std::vector<uint8_t> body;
    for (;;) {
        uint8_t prefix[4];
        size_t got = v::ReadFully(payload, prefix, 4);
        if (got == 0) return true;
        if (got < 4) return false;
        uint32_t m = text::GetU32(prefix);
        if (m > kMaxFrameBody) return false;
        body.resize(m);
        if (v::ReadFully(payload, body.data(), m) != m || !DesFrameWellFormed(body.data(), m))
            return false;
    }
}

// Frames are decoded and the output thrown away; encrypted ones only when the password is known.
bool FramesDecode(ArchiveReader& reader, const std::u16string& password) {
    const auto& rec = reader.Record();
    if (rec.Encrypted() && password.empty())
        return EncryptedFramesWellFormed(reader.PayloadStream());
    FrameDecodingStream frames(reader.PayloadStream(), rec, password);
    frames.Drain();
    return !frames.Damaged();
}

}  // namespace

ArchiveTestResult TestArchive(const std::string& path, const std::u16string& password,
                              v::WorkerReport* report, std::stop_token stop) {
    using V = ArchiveTestResult::Verdict;
    ArchiveTestResult result;
    v::FileStream file(ArchiveReader::OpenArchiveFd(path));
    ArchiveReader reader;
    if (report) report->ProgressSent(0, 100);
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
            if (result.verdict == V::Sound && !FramesDecode(reader, password)) {
                result.verdict = V::Damaged;
                result.damagedItem = text::ToUtf8(reader.Record().DisplayName());
            }
            ++result.records;
            auto percent = static_cast<uint32_t>(100.0 * reader.GoodBytes() / size);
            // Only a new percentage moves the bar: sending the same one again would make
            // the worker wait for the page once per record for nothing.
            if (percent != result.percent && report) report->ProgressSent(percent, 0);
            result.percent = percent;
        }
        if (result.verdict == V::Sound && reader.Reason() != ArchiveReader::EndReason::CleanEnd)
            result.verdict = V::Truncated;
    }
    return result;
}

ArchiveTestResult TestArchiveWorker(const WizardState& state, v::WorkerReport& report,
                                    std::stop_token stop) {
    ArchiveTestResult result;
    try {
        result = TestArchive(text::ToUtf8(state.archivePath), state.password, &report, stop);
    } catch (const std::exception& e) {  // no exception leaves an engine
        result.verdict = ArchiveTestResult::Verdict::Failed;
        result.damagedItem = e.what();
    }
    report.Done();
    return result;
}
