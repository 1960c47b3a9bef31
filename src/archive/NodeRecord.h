#pragma once
// The fixed 704-byte description of a node that precedes its payload in an archive:
//   0 parent instance GUID | 16 type GUID | 32 own instance GUID | 48 payload length (u64)
//   | 56 compress flag | 57 encrypt flag | 58 display name (256 units) | 570 is container
//   | 571 zero | 572 icon key (66 units)
#include <array>
#include <cstdint>
#include <string>

#include "base/Guid.h"

namespace v {

struct NodeRecord {
    static constexpr size_t kSize = 704;
    static constexpr size_t kParentGuidAt = 0;
    static constexpr size_t kTypeGuidAt = 16;
    static constexpr size_t kInstanceGuidAt = 32;
    static constexpr size_t kPayloadLengthAt = 48;
    static constexpr size_t kCompressAt = 56;
    static constexpr size_t kEncryptAt = 57;
    static constexpr size_t kDisplayNameAt = 58;
    static constexpr size_t kDisplayNameBytes = 512;
    static constexpr size_t kContainerAt = 570;
    static constexpr size_t kIconKeyAt = 572;
    static constexpr size_t kIconKeyBytes = 132;
    // The largest payload any writer makes: a reader refuses a record claiming more.
    static constexpr uint64_t kMaxPayloadLength = 0xFFFFFFFFull;
    std::array<uint8_t, kSize> bytes{};

    tindale::Guid ParentGuid() const { return GuidAt(kParentGuidAt); }
    tindale::Guid TypeGuid() const { return GuidAt(kTypeGuidAt); }
    tindale::Guid InstanceGuid() const { return GuidAt(kInstanceGuidAt); }
    uint64_t PayloadLength() const;
    bool Compressed() const { return bytes[kCompressAt] != 0; }
    bool Encrypted() const { return bytes[kEncryptAt] != 0; }
    std::u16string DisplayName() const;
    bool IsContainer() const { return bytes[kContainerAt] != 0; }
    std::u16string IconKey() const;

    void SetParentGuid(const tindale::Guid& g) { SetGuidAt(kParentGuidAt, g); }
    void SetTypeGuid(const tindale::Guid& g) { SetGuidAt(kTypeGuidAt, g); }
    void SetInstanceGuid(const tindale::Guid& g) { SetGuidAt(kInstanceGuidAt, g); }
    void SetPayloadLength(uint64_t length);
    void SetFlags(bool compressed, bool encrypted);
    void SetDisplayName(std::u16string_view name);
    void SetContainer(bool container) { bytes[kContainerAt] = container ? 1 : 0; }
    void SetIconKey(std::u16string_view key);

  private:
    tindale::Guid GuidAt(size_t offset) const;
    void SetGuidAt(size_t offset, const tindale::Guid& g);
};

// A record's bytes as they stand in the file.
using RecordBytes = std::array<uint8_t, NodeRecord::kSize>;

}  // namespace v
