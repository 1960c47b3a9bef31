// Message header blocks as a listing parses them: fields, folded lines, encoded words,
// dates in every form, subject prefixes.
#include <cstdint>
#include <string>

#include "platform/MessageHeaders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    auto info = tindale::mail::ParseHeaders(text);
    tindale::mail::NormalizeSubject(info.subject);
    tindale::mail::DecodeDate(text.c_str());
    return 0;
}
