#include "restore/ArchiveOutline.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "archive/ArchiveReader.h"
#include "base/Text.h"
#include "model/FileNodes.h"
#include "model/MessageNodes.h"
#include "platform/StoreProps.h"
#include "restore/RecordTree.h"

ArchiveOutline ArchiveOutline::Load(const std::string& archivePath, std::stop_token stop) {
    ArchiveOutline outline;
    outline.archive_ = archivePath;
    std::map<tindale::Guid, int> byGuid;
    auto summary = RecordTree::Walk(
        archivePath,
        [&](const v::NodeRecord& rec, uint64_t, const std::string& path, uint64_t offset) {
            auto parent = byGuid.find(rec.ParentGuid());
            int parentIndex = parent == byGuid.end() ? -1 : parent->second;
            Folder& above = parentIndex < 0 ? outline.top_ : outline.folders_[parentIndex];
            if (!rec.IsContainer()) {
                above.items.push_back(offset);
                return;
            }
            int index = static_cast<int>(outline.folders_.size());
            above.folders.push_back(index);
            outline.folders_.push_back({{rec, path}, parentIndex, {}, {}});
            byGuid[rec.InstanceGuid()] = index;
            outline.byPath_.emplace(path, index);
        },
        stop);
    outline.records_ = summary.records;
    outline.readable_ = summary.readable;
    outline.complete_ = summary.complete;
    outline.sealed_ = summary.sealed;
    return outline;
}

std::vector<ArchiveOutline::Entry> ArchiveOutline::ReadItems(
    int folder, const std::vector<uint64_t>& offsets) const {
    std::vector<Entry> out;
    int fd = ArchiveReader::OpenArchiveFd(archive_);
    if (fd < 0) return out;
    std::string prefix = folder < 0 ? std::string() : folders_[folder].entry.path + "/";
    out.reserve(offsets.size());
    for (uint64_t offset : offsets) {
        Entry e;
        if (::pread(fd, e.record.bytes.data(), e.record.bytes.size(), static_cast<off_t>(offset)) !=
            static_cast<ssize_t>(e.record.bytes.size()))
            break;  // the file changed since it was walked
        e.path = prefix + tindale::text::ToUtf8(e.record.DisplayName());
        out.push_back(std::move(e));
    }
    ::close(fd);
    return out;
}

std::optional<int> ArchiveOutline::FolderAt(const std::string& path) const {
    auto it = byPath_.find(path);
    if (it == byPath_.end()) return std::nullopt;
    return it->second;
}

std::optional<ArchiveOutline::Entry> ArchiveOutline::Find(const std::string& path) const {
    if (auto folder = FolderAt(path)) return folders_[*folder].entry;
    if (auto item = ItemAt(path)) return item->second;
    return std::nullopt;
}

std::optional<std::pair<int, ArchiveOutline::Entry>> ArchiveOutline::ItemAt(
    const std::string& path) const {
    auto lookIn = [&](int folder) -> std::optional<std::pair<int, Entry>> {
        for (auto& e : ReadItems(folder, FolderOf(folder).items))
            if (e.path == path) return std::pair{folder, std::move(e)};
        return std::nullopt;
    };
    for (size_t cut = path.rfind('/'); cut != std::string::npos && cut > 0;
         cut = path.rfind('/', cut - 1))
        if (auto folder = FolderAt(path.substr(0, cut)))
            if (auto found = lookIn(*folder)) return found;
    return lookIn(-1);
}

namespace {

// A payload's bytes, read from the archive by position: an item can be decoded without
// walking the records before it.
class PayloadAt : public v::BasicStream {
  public:
    PayloadAt(int fd, uint64_t at, uint64_t length) : fd_(fd), at_(at), left_(length) {}
    int32_t Write(const uint8_t*, int32_t) override { return 0; }
    int32_t Read(uint8_t* buffer, int32_t length) override {
        auto want = static_cast<size_t>(std::min<uint64_t>(left_, static_cast<uint64_t>(length)));
        ssize_t got = want ? ::pread(fd_, buffer, want, static_cast<off_t>(at_)) : 0;
        if (got <= 0) return 0;
        at_ += static_cast<uint64_t>(got);
        left_ -= static_cast<uint64_t>(got);
        return static_cast<int32_t>(got);
    }
    uint64_t GetSize() override { return left_; }

  private:
    int fd_;
    uint64_t at_, left_;
};

}  // namespace

std::optional<uint64_t> ArchiveOutline::OwnSize(const std::string& archivePath, uint64_t offset,
                                                std::u16string password, const SealKey* key) {
    int fd = ArchiveReader::OpenArchiveFd(archivePath);
    if (fd < 0) return std::nullopt;
    v::NodeRecord rec;
    std::optional<uint64_t> size;
    if (::pread(fd, rec.bytes.data(), rec.bytes.size(), static_cast<off_t>(offset)) ==
        static_cast<ssize_t>(rec.bytes.size())) {
        bool message = rec.TypeGuid() == v::MsgNode::kTypeGuid;
        bool file = rec.TypeGuid() == v::FileFolderNode::kTypeGuid;
        size_t need =
            message ? v::kMessagePropsAt + tindale::store::MessageProps::kSize : v::kFileSizeAt + 8;
        PayloadAt payload(fd, offset + rec.bytes.size(), rec.PayloadLength());
        FrameDecodingStream frames(payload, rec, std::move(password), key);
        std::vector<uint8_t> head(need);
        if ((message || file) && v::ReadFully(frames, head.data(), need) == need)
            size = message ? uint64_t{tindale::store::MessageProps::FromBytes(head.data() +
                                                                              v::kMessagePropsAt)
                                          .size}
                           : tindale::text::GetU64(head.data() + v::kFileSizeAt);
    }
    ::close(fd);
    return size;
}
