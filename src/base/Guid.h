#pragma once
// 16-byte GUIDs in the standard byte order (Data1, Data2, Data3 little-endian, then Data4).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tindale {

struct Guid {
    std::array<uint8_t, 16> bytes{};

    static Guid NewRandom();
    // Parses the registry text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional).
    static std::optional<Guid> Parse(std::string_view text);
    // Parses a text form known at compile time to be valid.
    static Guid FromText(std::string_view text);

    std::string ToString() const;  // registry text form, upper case, in braces
    std::u16string ToString16() const;
    bool IsZero() const;
    auto operator<=>(const Guid&) const = default;
};

}  // namespace tindale
