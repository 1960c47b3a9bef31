#include "model/RegStreams.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "base/Text.h"
#include "platform/Registry.h"

namespace v {

using namespace tindale;

RegValueStream::RegValueStream() {
    header_.fill(0);
}

uint32_t RegValueStream::DeclaredLength() const {
    return text::GetU32(header_.data() + kRegRecordLengthAt);
}
uint32_t RegValueStream::Root() const {
    return text::GetU32(header_.data());
}
uint32_t RegValueStream::Type() const {
    return text::GetU32(header_.data() + kRegRecordTypeAt);
}

std::u16string RegValueStream::KeyPath() const {
    return text::GetFixedUtf16(
        std::span(header_).subspan(kRegRecordPathAt, kRegRecordPathUnits * 2));
}

std::u16string RegValueStream::ValueName() const {
    return text::GetFixedUtf16(
        std::span(header_).subspan(kRegRecordNameAt, kRegRecordNameUnits * 2));
}

void RegValueStream::Clear() {
    header_.fill(0);
    headerFill_ = 0;
    data_.clear();
    data_.shrink_to_fit();
}

int32_t RegValueStream::Write(const uint8_t* data, int32_t length) {
    int32_t taken = 0;
    if (headerFill_ < kRegRecordHeaderSize) {
        int32_t n = std::min(length, kRegRecordHeaderSize - headerFill_);
        std::memcpy(header_.data() + headerFill_, data, static_cast<size_t>(n));
        headerFill_ += n;
        taken = n;
    }
    if (!HeaderComplete() || Damaged()) return taken;
    size_t missing = DeclaredLength() - data_.size();
    size_t n = std::min(missing, static_cast<size_t>(length - taken));
    data_.insert(data_.end(), data + taken, data + taken + n);
    return taken + static_cast<int32_t>(n);
}

RegStream::RegStream(std::u16string allowedKey)
    : root_(reg::kHkeyCurrentUser), keyPath_(std::move(allowedKey)) {}

RegStream::RegStream(uint32_t root, std::u16string keyPath)
    : root_(root), keyPath_(std::move(keyPath)) {
    Collect(keyPath_);
}

void RegStream::Collect(const std::u16string& path) {
    if (path.size() >= kRegRecordPathUnits) {
        skipped_.push_back(path);
        return;
    }
    auto key = reg::Key::Open(root_, path);
    if (!key) return;
    for (uint32_t i = 0;; ++i) {
        auto sub = key->SubkeyName(i);
        if (!sub) break;
        std::u16string child = path;
        if (!child.empty() && child.back() != u'\\') child += u'\\';
        Collect(child + *sub);
    }
    for (uint32_t i = 0;; ++i) {
        auto value = key->ValueAt(i);
        if (!value) break;
        if (value->name.size() >= kRegRecordNameUnits || value->data.size() > kMaxRegValueData) {
            skipped_.push_back(path + u"\\" + value->name);
            continue;
        }
        AppendRecord(path, value->name, value->type, value->data);
    }
}

void RegStream::AppendRecord(const std::u16string& path, const std::u16string& name, uint32_t type,
                             const std::vector<uint8_t>& data) {
    size_t at = flat_.size();
    flat_.resize(at + kRegRecordHeaderSize, 0);
    uint8_t* h = flat_.data() + at;
    text::PutU32(h, root_);
    text::PutFixedUtf16(std::span(h + kRegRecordPathAt, kRegRecordPathUnits * 2), path);
    text::PutFixedUtf16(std::span(h + kRegRecordNameAt, kRegRecordNameUnits * 2), name);
    text::PutU32(h + kRegRecordTypeAt, type);
    text::PutU32(h + kRegRecordLengthAt, static_cast<uint32_t>(data.size()));
    flat_.insert(flat_.end(), data.begin(), data.end());
}

int32_t RegStream::Read(uint8_t* buffer, int32_t length) {
    if (length <= 0) return 0;
    size_t n = std::min(static_cast<size_t>(length), flat_.size() - cursor_);
    if (n) std::memcpy(buffer, flat_.data() + cursor_, n);
    cursor_ += n;
    return static_cast<int32_t>(n);
}

int32_t RegStream::Write(const uint8_t* data, int32_t length) {
    int32_t done = 0;
    while (!damaged_ && done < length) {
        done += pending_.Write(data + done, length - done);
        if (pending_.Damaged()) {
            damaged_ = true;
            pending_.Clear();
        } else if (pending_.Complete()) {
            Apply();
            pending_.Clear();
        }
    }
    return length;
}

void RegStream::Apply() {
    std::u16string path = pending_.KeyPath();
    bool inside = pending_.Root() == reg::kHkeyCurrentUser && !keyPath_.empty() &&
                  path.size() >= keyPath_.size() &&
                  text::EqualsNoCase(path.substr(0, keyPath_.size()), keyPath_) &&
                  (path.size() == keyPath_.size() || path[keyPath_.size()] == u'\\');
    if (!inside || path.find(u"\\\\") != std::u16string::npos) {
        ++refused_;  // an archive never decides where in the registry it writes
        return;
    }
    auto key = reg::Key::Open(pending_.Root(), pending_.KeyPath());
    if (!key) key = reg::Key::Create(pending_.Root(), pending_.KeyPath());
    if (!key) return;
    if (key->Set(pending_.ValueName(), pending_.Type(), pending_.Data())) ++applied_;
}

}  // namespace v
