#include "backup/MailDictionary.h"

#include "archive/ZstdDictionary.h"
#include "base/Streams.h"
#include "model/MessageNodes.h"
#include "model/Outcome.h"

namespace {

constexpr size_t kSampleBytes = 512 << 10;
// Spread over folders: mail of one folder is more alike than the archive's mail as a whole.
constexpr size_t kPerFolder = 128;
// Only messages that fit one piece are compressed with the dictionary.
constexpr uint32_t kLargestSampled = 128 * 1024;
// Fewer samples teach zstd nothing it cannot find in the message itself.
constexpr size_t kFewestSamples = 16;

class Sample {
  public:
    bool Full() const { return samples_.size() >= kSampleBytes; }
    void Add(v::MsgNode& message) {
        if (message.Props().size > kLargestSampled) return;
        v::MemoryStream payload;
        message.WritePayload(payload);
        const auto& bytes = payload.Data();
        if (bytes.empty()) return;
        samples_.insert(samples_.end(), bytes.begin(), bytes.end());
        sizes_.push_back(bytes.size());
    }
    std::shared_ptr<const ZstdDictionary> Train() const {
        if (sizes_.size() < kFewestSamples) return nullptr;
        return ZstdDictionary::Train(samples_, sizes_);
    }

  private:
    std::vector<uint8_t> samples_;
    std::vector<size_t> sizes_;
};

}  // namespace

std::shared_ptr<const ZstdDictionary> TrainMailDictionary(
    const std::vector<v::BasicNode*>& sources, const std::set<const v::BasicNode*>& skipped,
    std::stop_token stop) {
    v::Outcome ignored;  // the backup itself reports what it cannot read
    v::OutcomeScope scope(ignored);
    Sample sample;
    for (v::BasicNode* source : sources) {
        if (sample.Full() || stop.stop_requested()) break;
        if (!dynamic_cast<v::MsgFolder*>(source) || skipped.count(source)) continue;
        size_t taken = 0;
        source->ForEachItem([&](std::unique_ptr<v::BasicNode> item) {
            if (auto* message = dynamic_cast<v::MsgNode*>(item.get())) {
                sample.Add(*message);
                ++taken;
            }
            return taken < kPerFolder && !sample.Full() && !stop.stop_requested();
        });
    }
    return stop.stop_requested() ? nullptr : sample.Train();
}
