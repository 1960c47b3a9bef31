#include "support/CraftedArchive.h"

#include <span>

#include "archive/ArchiveHeader.h"
#include "archive/PieceCodec.h"
#include "base/Text.h"
#include "model/FileNodes.h"
#include "support/TestHome.h"

using namespace tindale;

CraftedArchive::CraftedArchive(bool compress, bool encrypt, std::u16string password)
    : compress_(compress), encrypt_(encrypt), password_(std::move(password)) {}

v::NodeRecord& CraftedArchive::Add(const Guid& type, std::u16string name,
                                   std::vector<uint8_t> payload, bool container,
                                   const Guid* parent) {
    v::NodeRecord rec;
    rec.SetTypeGuid(type);
    rec.SetInstanceGuid(Guid::NewRandom());
    if (parent) rec.SetParentGuid(*parent);
    rec.SetFlags(compress_, encrypt_);
    rec.SetDisplayName(name);
    rec.SetContainer(container);
    rec.SetPayloadLength(payload.size());
    records_.emplace_back(rec, std::move(payload));
    return records_.back().first;
}

std::vector<uint8_t> CraftedArchive::Frames(const std::vector<uint8_t>& plain) const {
    CodecFlags flags{compress_, encrypt_, password_};
    std::vector<uint8_t> out;
    for (size_t at = 0; at < plain.size(); at += kPieceSize)
        ProcessPiece(flags, plain.data() + at, std::min(kPieceSize, plain.size() - at), out);
    return out;
}

std::vector<uint8_t> CraftedArchive::FilePayload(const std::u16string& storedPath,
                                                 const std::string& bytes, bool folder) {
    std::vector<uint8_t> out(v::kFileHeaderSize, 0);
    text::PutFixedUtf16(std::span(out).subspan(0, v::kFilePathBytes), storedPath);
    text::PutU64(out.data() + v::kFileSizeAt, bytes.size());
    out[v::kFileFolderFlagAt] = folder ? 1 : 0;
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

tindale::Guid CraftedArchive::AddDocumentsRoot() {
    return Add(v::FileFolderNode::kTypeGuid, u"My Documents",
               Frames(FilePayload(u"%USERPROFILE%\\Documents", "", true)), true)
        .InstanceGuid();
}

std::string CraftedArchive::Bytes() const {
    auto header = ArchiveHeader::Build(compress_, encrypt_, u"crafted.vqz", password_);
    std::string out(header.bytes.begin(), header.bytes.end());
    for (const auto& [rec, payload] : records_) {
        out.append(rec.bytes.begin(), rec.bytes.end());
        out.append(payload.begin(), payload.end());
    }
    return out;
}

void CraftedArchive::WriteTo(const std::string& path) const {
    WriteFile(path, Bytes());
}

std::vector<size_t> RecordOffsets(const std::string& bytes) {
    std::vector<size_t> out;
    for (size_t at = ArchiveHeader::kSize; at + v::NodeRecord::kSize <= bytes.size();) {
        out.push_back(at);
        at += v::NodeRecord::kSize +
              tindale::text::GetU64(reinterpret_cast<const uint8_t*>(bytes.data()) + at +
                                    v::NodeRecord::kPayloadLengthAt);
    }
    return out;
}
