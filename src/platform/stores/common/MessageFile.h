#pragma once
// Reading messages kept one to a file: opening one safely, and the properties of many read
// on every core.
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/MessageHeaders.h"
#include "platform/StoreProps.h"
#include "platform/stores/Results.h"

namespace tindale::store {

// No mail server takes a message this large; a "message" beyond it (a sparse or damaged file)
// is named and left out rather than read whole.
inline constexpr uint64_t kMaxMessageBytes = 256ull << 20;

// Opens a message file for reading: only a regular file, never following a link, and
// without waiting on a FIFO. -1 (errno set) otherwise.
int OpenRegularFile(const std::string& path, struct stat& st);

// Every byte of an open file, read from its start.
std::string ReadAllFrom(int fd);
// Every byte of a regular file (OpenRegularFile) of at most `maxBytes`; none otherwise
// (errno says why, EFBIG for a larger file).
std::optional<std::string> ReadRegularFile(const std::string& path,
                                           uint64_t maxBytes = kMaxMessageBytes);

// A message's properties from its parsed headers; `fallbackTime` (Unix seconds) stands in
// for a date no header gives.
MessageProps PropsFromHeaders(uint32_t id, const mail::HeaderInfo& info, uint64_t size,
                              int64_t fallbackTime);

// Deletes the files of these messages: `locate` finds a message's file, `forget` drops its
// id once the file is gone. S_FALSE when some were gone already.
HRESULT DeleteMessageFiles(const std::vector<uint32_t>& ids,
                           const std::function<std::optional<std::string>(uint32_t)>& locate,
                           const std::function<void(uint32_t)>& forget);

// What one message file gives: `headers` is its header block ("" when it cannot be read).
using FileProps = std::function<MessageProps(uint32_t id, const std::string& path,
                                             const struct stat& st, const std::string& headers)>;
// The properties of the files `paths` (one per id), each read by `propsOf`; a long list
// is read on every core, since each file is independent.
void ReadFilesProps(std::span<const uint32_t> ids, const std::vector<std::string>& paths,
                    std::span<MessageProps> out, const FileProps& propsOf);

}  // namespace tindale::store
