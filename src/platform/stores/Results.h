#pragma once
// The result codes of the store interface: S_OK, S_FALSE, failures negative.
#include <cstdint>

namespace tindale::store {

using HRESULT = int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_NOT_FOUND = static_cast<HRESULT>(0x80070002);

inline constexpr uint32_t kRootFolderId = 0;

}  // namespace tindale::store
