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
    std::array<uint8_t, kSize> bytes{};

    tindale::Guid ParentGuid() const { return GuidAt(0); }
    tindale::Guid TypeGuid() const { return GuidAt(16); }
    tindale::Guid InstanceGuid() const { return GuidAt(32); }
    uint64_t PayloadLength() const;
    bool Compressed() const { return bytes[56] != 0; }
    bool Encrypted() const { return bytes[57] != 0; }
    std::u16string DisplayName() const;
    bool IsContainer() const { return bytes[570] != 0; }
    std::u16string IconKey() const;

    void SetParentGuid(const tindale::Guid& g) { SetGuidAt(0, g); }
    void SetTypeGuid(const tindale::Guid& g) { SetGuidAt(16, g); }
    void SetInstanceGuid(const tindale::Guid& g) { SetGuidAt(32, g); }
    void SetPayloadLength(uint64_t length);
    void SetFlags(bool compressed, bool encrypted);
    void SetDisplayName(std::u16string_view name);
    void SetContainer(bool container) { bytes[570] = container ? 1 : 0; }
    void SetIconKey(std::u16string_view key);

  private:
    tindale::Guid GuidAt(size_t offset) const;
    void SetGuidAt(size_t offset, const tindale::Guid& g);
};

}  // namespace v
