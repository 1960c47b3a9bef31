#pragma once
// Builds archives byte by byte for tests of hostile and damaged input: a header, then
// records with whatever payload bytes the test wants, valid or not.
#include <cstdint>
#include <string>
#include <vector>

#include "archive/NodeRecord.h"
#include "base/Guid.h"

class CraftedArchive {
  public:
    CraftedArchive(bool compress, bool encrypt, std::u16string password = u"pass");

    // A record of the given type with `payload` as its bytes (frames or not).
    v::NodeRecord& Add(const tindale::Guid& type, std::u16string name, std::vector<uint8_t> payload,
                       bool container = false, const tindale::Guid* parent = nullptr);
    // The "My Documents" root record (a folder stored as %USERPROFILE%\Documents); its id.
    tindale::Guid AddDocumentsRoot();
    // Frames for `plain`, cut into pieces and encoded as the archive's flags say.
    std::vector<uint8_t> Frames(const std::vector<uint8_t>& plain) const;
    // A file payload: the stored path (as in the archive) and the bytes.
    static std::vector<uint8_t> FilePayload(const std::u16string& storedPath,
                                            const std::string& bytes, bool folder = false);
    std::string Bytes() const;
    void WriteTo(const std::string& path) const;

  private:
    bool compress_, encrypt_;
    std::u16string password_;
    std::vector<std::pair<v::NodeRecord, std::vector<uint8_t>>> records_;
};

// Where each record of an archive's bytes starts, in order.
std::vector<size_t> RecordOffsets(const std::string& archiveBytes);
