#pragma once
// Registry trees as byte streams. A tree serialises to a concatenation of value records:
//   0 root key (u32) | 4 key path (2048 UTF-16 units) | 4100 value name (300 units)
//   | 4700 type (u32) | 4704 data length n (u32) | 4708 n data bytes
// Subkeys' records come before their parent's own values.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Streams.h"

namespace v {

inline constexpr int32_t kRegRecordHeaderSize = 4708;
inline constexpr size_t kRegRecordPathAt = 4;
inline constexpr size_t kRegRecordNameAt = 4100;
inline constexpr size_t kRegRecordTypeAt = 4700;
inline constexpr size_t kRegRecordLengthAt = 4704;
inline constexpr size_t kRegRecordPathUnits = 2048;
inline constexpr size_t kRegRecordNameUnits = 300;
// No real registry value is this large; a record claiming more is damaged input.
inline constexpr uint32_t kMaxRegValueData = 16u << 20;

// Assembles one value record from bytes written to it.
class RegValueStream : public BasicStream {
  public:
    RegValueStream();
    int32_t Write(const uint8_t* data, int32_t length) override;
    int32_t Read(uint8_t*, int32_t) override { return 0; }
    uint64_t GetSize() override { return static_cast<uint64_t>(headerFill_) + data_.size(); }

    bool HeaderComplete() const { return headerFill_ == kRegRecordHeaderSize; }
    bool Complete() const {
        return HeaderComplete() && !Damaged() && data_.size() == DeclaredLength();
    }
    // A complete header declaring a length no value can have.
    bool Damaged() const override {
        return HeaderComplete() && DeclaredLength() > kMaxRegValueData;
    }
    uint32_t DeclaredLength() const;
    void Clear();

    uint32_t Root() const;
    std::u16string KeyPath() const;
    std::u16string ValueName() const;
    uint32_t Type() const;
    const std::vector<uint8_t>& Data() const { return data_; }

  private:
    std::array<uint8_t, kRegRecordHeaderSize> header_;
    int32_t headerFill_ = 0;
    std::vector<uint8_t> data_;
};

// Reading: captures the tree below (root, path) at construction and serves reads from memory.
// Writing: applies every complete record to the registry as its last byte arrives.
class RegStream : public BasicStream {
  public:
    // For writing: values are applied only to `allowedKey` below HKEY_CURRENT_USER and its
    // subkeys; a record naming any other place is skipped and counted.
    explicit RegStream(std::u16string allowedKey);
    RegStream(uint32_t root, std::u16string keyPath);  // for reading

    int32_t Write(const uint8_t* data, int32_t length) override;
    int32_t Read(uint8_t* buffer, int32_t length) override;
    uint64_t GetSize() override { return flat_.size(); }

    // Values and keys left out of the capture because their names do not fit a record.
    const std::vector<std::u16string>& SkippedNames() const { return skipped_; }
    // True once a damaged record was met while writing; nothing after it was applied.
    bool Damaged() const override { return damaged_; }
    uint32_t AppliedCount() const { return applied_; }
    uint32_t RefusedCount() const { return refused_; }

  private:
    void Collect(const std::u16string& path);
    void AppendRecord(const std::u16string& path, const std::u16string& name, uint32_t type,
                      const std::vector<uint8_t>& data);
    void Apply();

    uint32_t root_ = 0;
    std::u16string keyPath_;
    std::vector<uint8_t> flat_;
    size_t cursor_ = 0;
    RegValueStream pending_;
    std::vector<std::u16string> skipped_;
    bool damaged_ = false;
    uint32_t applied_ = 0;
    uint32_t refused_ = 0;
};

}  // namespace v
