#pragma once
// Buffer-to-buffer transformations of payload pieces: LZMA compression and DES encryption,
// and the password check block of the archive header.
//
// LZMA output: marker (1 = block follows, 0 = input follows unchanged), then the block:
//   filter byte (0; 1 = x86 branch converter) | properties (93, dict 2097152) |
//   uncompressed size (u64) | LZMA stream without end marker.
// DES output: n (u32) | p = n rounded up to 8 (u32) | p bytes of CBC ciphertext.
#include <cstdint>
#include <string_view>
#include <vector>

class DataProcessor {
  public:
    virtual ~DataProcessor() = default;
    // Processes one buffer; returns the output size (0 also on failure for decoders).
    virtual int32_t Process(const uint8_t* in, int32_t length) = 0;
    const uint8_t* Output() const { return output_.data(); }
    int32_t OutputSize() const { return static_cast<int32_t>(output_.size()); }
    std::vector<uint8_t>& OutputBuffer() { return output_; }
    // True when the last Process met input it could not decode.
    bool Failed() const { return failed_; }

  protected:
    std::vector<uint8_t> output_;
    bool failed_ = false;
};

class LZMACompProcessor : public DataProcessor {
  public:
    // `quick`: a faster setting whose output is a few percent larger, read the same way.
    explicit LZMACompProcessor(bool quick = false) : quick_(quick) {}
    int32_t Process(const uint8_t* in, int32_t length) override;

  private:
    bool quick_;
};

class LZMADecompProcessor : public DataProcessor {
  public:
    int32_t Process(const uint8_t* in, int32_t length) override;
};

class DESBaseCryptor : public DataProcessor {
  public:
    explicit DESBaseCryptor(std::u16string_view password);
    const uint8_t* Key() const { return key_; }

  protected:
    uint8_t key_[8];
    uint8_t iv_[8];
    uint8_t schedule_[128];  // all zero, never loaded: the password acts only through the IV
};

class DESEncryptor : public DESBaseCryptor {
  public:
    using DESBaseCryptor::DESBaseCryptor;
    int32_t Process(const uint8_t* in, int32_t length) override;
};

class DESDecryptor : public DESBaseCryptor {
  public:
    using DESBaseCryptor::DESBaseCryptor;
    int32_t Process(const uint8_t* in, int32_t length) override;
};

inline constexpr size_t kMaxPasswordUnits = 27;

// What can be checked of a DES frame without the key: n (the plain length) and p (the padded
// length) agree, p is a multiple of 8, and the ciphertext fills the frame exactly.
bool DesFrameWellFormed(const uint8_t* body, uint32_t length);
inline constexpr size_t kPasswordCheckField = 66;

// Writes the password check block (at most 64 bytes) and returns its length.
int32_t MakePasswordCheck(std::u16string_view password, uint8_t* destination);
bool CheckArchivePassword(std::u16string_view candidate, const uint8_t* block, uint32_t length);
