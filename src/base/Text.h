#pragma once
// Text conversions in one place. Wide strings are UTF-16 throughout the core; the
// "ANSI code page" of this platform is UTF-8.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tindale::text {

std::u16string ToUtf16(std::string_view utf8);
std::string ToUtf8(std::u16string_view utf16);

// Case folding used for case-insensitive comparisons of names (registry, folders).
char16_t FoldUnit(char16_t c);
std::u16string Fold(std::u16string_view s);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);

// Writes s as UTF-16LE into a fixed field of `units` units: NUL-terminated and zero-padded.
// A longer string is cut so that the terminator always fits.
void PutFixedUtf16(std::span<uint8_t> field, std::u16string_view s);
// Reads a NUL-terminated UTF-16LE string from a fixed field (stops at the field's end).
std::u16string GetFixedUtf16(std::span<const uint8_t> field);

// UTF-16LE bytes of a string, without terminator.
std::vector<uint8_t> Utf16LeBytes(std::u16string_view s);

// Little-endian integer helpers for byte layouts.
void PutU16(uint8_t* p, uint16_t v);
void PutU32(uint8_t* p, uint32_t v);
void PutU64(uint8_t* p, uint64_t v);
uint16_t GetU16(const uint8_t* p);
uint32_t GetU32(const uint8_t* p);
uint64_t GetU64(const uint8_t* p);

// A short string in a byte layout: its length as a u16, then its bytes (at most 65535; a
// longer one is cut there, at a UTF-8 character's start).
void PutShortString(std::vector<uint8_t>& out, std::string_view s);
// The short string at `at`, which moves past it; none when the bytes end before it does.
std::optional<std::string> TakeShortString(const std::vector<uint8_t>& bytes, size_t& at);

}  // namespace tindale::text
