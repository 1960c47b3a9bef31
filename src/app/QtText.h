#pragma once
// Between Qt's strings and the core's UTF-16 and UTF-8 strings.
#include <QString>
#include <string>

#include "base/Text.h"

inline std::u16string Wide(const QString& s) {
    return tindale::text::ToUtf16(s.toStdString());
}
inline QString Narrow(const std::u16string& s) {
    return QString::fromStdString(tindale::text::ToUtf8(s));
}
