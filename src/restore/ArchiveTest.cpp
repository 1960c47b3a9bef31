#include "restore/ArchiveTest.h"
#include "restore/RecordTree.h"

#include <exception>
#include <functional>
#include <optional>

#include "archive/ArchiveReader.h"
#include "archive/PieceCodec.h"
#include "archive/Processors.h"
#include "archive/Seal.h"
#include "base/Text.h"

using namespace tindale;

std::string ArchiveTestResult::Describe() const {
    switch (verdict) {
        case Verdict::Sound:
            if (!contentsChecked)
                return "structure sound; contents not checked without the password (" +
                       std::to_string(records) + " items)";
            return "the archive has no error (" + std::to_string(records) + " items)";
        case Verdict::NotAnArchive:
            return "the file is not an archive";
        case Verdict::CannotOpen:
            return "the file cannot be opened";
        case Verdict::Truncated:
            return "the archive is truncated after " + std::to_string(records) + " items";
        case Verdict::Damaged:
            if (!damage.empty()) return "the archive is damaged: " + damage;
            return "the archive is damaged: item \"" + damagedItem + "\" does not decode";
        case Verdict::Cancelled:
            return "the test was cancelled";
        case Verdict::Failed:
            return "the test failed: " + damagedItem;
        case Verdict::WrongPassword:
            return "wrong password";
    }
    return {};
}

namespace {

// Walks a payload's raw frames, handing each complete body to `check`; false at the first
// frame that is cut short, longer than any writer makes, or that `check` refuses.
template <typename Check>
bool EveryFrame(v::BasicStream& payload, Check check) {
    std::vector<uint8_t> body;
    for (;;) {
        uint8_t prefix[4];
        size_t got = v::ReadFully(payload, prefix, 4);
        if (got == 0) return true;
        uint32_t m = got < 4 ? 0 : text::GetU32(prefix);
        if (got < 4 || m > kMaxFrameBody) return false;
        body.resize(m);
        if (v::ReadFully(payload, body.data(), m) != m || !check(body)) return false;
    }
}

// Without the key, an encrypted payload can still be checked for its shape: every frame
// complete, and each DES frame's lengths consistent with the frame.
bool EncryptedFramesWellFormed(v::BasicStream& payload) {
    return EveryFrame(payload, [](const std::vector<uint8_t>& body) {
        return DesFrameWellFormed(body.data(), static_cast<uint32_t>(body.size()));
    });
}

// Without the key, a sealed payload's shape: each frame long enough for its flag and tag,
// the flag 0 or 1, and exactly the last frame flagged last.
bool SealedFramesWellFormed(v::BasicStream& payload) {
    bool last = false, any = false;
    bool whole = EveryFrame(payload, [&](const std::vector<uint8_t>& body) {
        if (last || body.size() < kSealOverhead || body[0] > 1) return false;
        last = body[0] == 1;
        any = true;
        return true;
    });
    return whole && (!any || last);
}

// Frames are decoded and the output thrown away; encrypted ones only when the key is known
// (a sealed archive's frames are then authenticated too), otherwise checked for their shape.
// `keepGoing` is called as a large payload is read; it ends the read early when it returns
// false.
bool FramesDecode(ArchiveReader& reader, const std::u16string& password, bool sealed,
                  const SealKey* seal, const std::function<bool()>& keepGoing) {
    const auto& rec = reader.Record();
    if (rec.Encrypted() && sealed && !seal) return SealedFramesWellFormed(reader.PayloadStream());
    if (rec.Encrypted() && !sealed && password.empty())
        return EncryptedFramesWellFormed(reader.PayloadStream());
    FrameDecodingStream frames(reader, password, seal);
    frames.Drain(keepGoing);
    return !frames.Damaged();
}

// How a sealed archive's walk ended, as a verdict on a walk that was sound so far.
void JudgeSealedEnd(ArchiveTestResult& result, const std::optional<SealWalk>& walk,
                    const ArchiveReader& reader, bool closedWithoutKey) {
    using V = ArchiveTestResult::Verdict;
    auto verdict =
        walk ? walk->Finish(reader)
             : (closedWithoutKey ? SealWalk::Verdict::Sound : SealWalk::Verdict::NoClosingRecord);
    if (verdict == SealWalk::Verdict::NoClosingRecord) {
        result.verdict = V::Truncated;  // cut off after a whole record
    } else if (verdict == SealWalk::Verdict::Mismatch) {
        result.verdict = V::Damaged;
        result.damagedItem = "the closing record";
        result.damage = SealWalk::Describe(verdict);
    }
}

}  // namespace

ArchiveTestResult TestArchive(const std::string& path, const std::u16string& password,
                              v::WorkerReport* report, std::stop_token stop, const SealKey* key) {
    using V = ArchiveTestResult::Verdict;
    ArchiveTestResult result;
    ArchiveReader reader;
    if (report) report->ProgressSent(0, 100);
    auto status = reader.Open(path);
    if (status == ArchiveReader::OpenStatus::CannotOpen) {
        result.verdict = V::CannotOpen;
    } else if (status == ArchiveReader::OpenStatus::NotAnArchive) {
        result.verdict = V::NotAnArchive;
    } else if (status == ArchiveReader::OpenStatus::DamagedHeader) {
        result.verdict = V::Damaged;
        result.scheme = ArchiveTestResult::Scheme::Sealed;
        result.damagedItem = "the header";
        result.damage =
            "its header contradicts its records (a sealed archive is always "
            "encrypted, with seal fields in bounds), so no password can open it";
    } else {
        bool sealed = reader.Header().Sealed();
        result.scheme = sealed                        ? ArchiveTestResult::Scheme::Sealed
                        : reader.Header().Encrypted() ? ArchiveTestResult::Scheme::Legacy
                                                      : ArchiveTestResult::Scheme::None;
        // The key lives in the reader, which outlives the threads decoding ahead for it.
        std::optional<SealWalk> walk;
        if (sealed && key) {
            reader.UseKey(*key);
        } else if (sealed && !SealKey::HeaderValid(reader.Header())) {
            result.verdict = V::Damaged;
            result.damagedItem = "the header";
            result.damage = "its header's seal fields are damaged, so no password can open it";
            return result;
        } else if (!password.empty()) {
            auto status = reader.Unlock(password, stop);
            if (status == ArchiveReader::OpenStatus::Cancelled) result.verdict = V::Cancelled;
            if (status == ArchiveReader::OpenStatus::WrongPassword)
                result.verdict = V::WrongPassword;
            if (status != ArchiveReader::OpenStatus::Readable) return result;
        }
        result.contentsChecked =
            !reader.Header().Encrypted() || reader.Key() != nullptr || !password.empty();
        const SealKey* sealKey = reader.Key();
        if (sealKey) walk.emplace(*sealKey);
        bool decodable = sealed ? sealKey != nullptr : !password.empty();
        reader.DecodeAhead(password, sealKey, [decodable](const v::NodeRecord& rec) {
            if (IsSealRecord(rec.TypeGuid())) return false;
            return !rec.Encrypted() || decodable;
        });
        bool closedWithoutKey = false;
        uint64_t size = std::max<uint64_t>(reader.FileSize(), 1);
        // Only a new percentage moves the bar: sending the same one again would make the
        // worker wait for the page for nothing.
        auto moveBar = [&](uint64_t at) {
            auto percent = static_cast<uint32_t>(100.0 * at / size);
            if (percent != result.percent && report) report->ProgressSent(percent, 0);
            result.percent = percent;
        };
        // A payload of gigabytes moves the bar and can be cancelled while it is read.
        auto keepGoing = [&] {
            moveBar(reader.GoodBytes() - reader.PayloadRemaining());
            return !stop.stop_requested();
        };
        RecordPaths paths;  // nesting deeper than any real tree is damage too
        for (; !reader.AtEnd() && !stop.stop_requested(); reader.Advance()) {
            if (result.verdict == V::Sound && !paths.Of(reader.Record())) {
                result.verdict = V::Damaged;
                result.damagedItem = "record " + std::to_string(result.records + 1);
                result.damage = kTooDeep;
            }
            // A sealed archive's closing record holds nothing to restore and is not counted,
            // but the bytes it takes count towards the percentage.
            bool closing = walk ? walk->Observe(reader)
                                : sealed && reader.Record().TypeGuid() == kSealClosingType;
            if (sealed && !walk) closedWithoutKey = closing;
            if (!closing && !IsSealRecord(reader.Record().TypeGuid())) {
                if (result.verdict == V::Sound &&
                    !FramesDecode(reader, password, sealed, sealKey, keepGoing)) {
                    result.verdict = V::Damaged;
                    result.damagedItem = text::ToUtf8(reader.Record().DisplayName());
                }
                ++result.records;
            }
            moveBar(reader.GoodBytes());
        }
        // Stopped, even within the last payload: what was not read is not judged.
        if (stop.stop_requested()) result.verdict = V::Cancelled;
        if (result.verdict == V::Sound && reader.Reason() == ArchiveReader::EndReason::Forged) {
            result.verdict = V::Damaged;
            result.damagedItem = "record " + std::to_string(result.records + 1);
            result.damage = reader.DescribeEnd();
        }
        if (result.verdict == V::Sound && reader.Reason() != ArchiveReader::EndReason::CleanEnd)
            result.verdict = V::Truncated;
        if (result.verdict == V::Sound && sealed)
            JudgeSealedEnd(result, walk, reader, closedWithoutKey);
    }
    return result;
}

ArchiveTestResult TestArchiveWorker(const std::u16string& path, const std::u16string& password,
                                    v::WorkerReport& report, std::stop_token stop) {
    ArchiveTestResult result;
    try {
        result = TestArchive(text::ToUtf8(path), password, &report, stop);
    } catch (const std::exception& e) {  // no exception leaves an engine
        result.verdict = ArchiveTestResult::Verdict::Failed;
        result.damagedItem = e.what();
    }
    report.Done();
    return result;
}
