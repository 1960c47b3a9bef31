#include <gtest/gtest.h>

#include "base/Streams.h"
#include "base/Text.h"
#include "model/RegStreams.h"
#include "platform/Registry.h"
#include "support/TestHome.h"

using namespace tindale;
using namespace v;

namespace {

std::vector<uint8_t> ReadAll(BasicStream& s) {
    std::vector<uint8_t> out;
    uint8_t buf[777];
    while (int32_t n = s.Read(buf, sizeof buf)) out.insert(out.end(), buf, buf + n);
    return out;
}

void SetDword(const char16_t* path, const char16_t* name, uint32_t value) {
    uint8_t b[4];
    text::PutU32(b, value);
    reg::Key::Create(reg::kHkeyCurrentUser, path)->Set(name, reg::kRegDword, b);
}

// A small tree: values on the root key, a nested subkey with string, binary and empty values.
void MakeTree() {
    SetDword(u"Software\\T", u"Top", 7);
    auto sub = reg::Key::Create(reg::kHkeyCurrentUser, u"Software\\T\\Sub\\Deeper");
    sub->SetString(u"Str", u"hello");
    uint8_t bin[3] = {1, 2, 3};
    sub->Set(u"Bin", reg::kRegBinary, bin);
    sub->Set(u"", reg::kRegSz, {});
}

// Every value under a key, as "path|name|type|bytes" lines, for comparing trees.
void Dump(const std::u16string& path, std::vector<std::string>& out) {
    auto key = reg::Key::Open(reg::kHkeyCurrentUser, path);
    if (!key) return;
    for (uint32_t i = 0; auto name = key->SubkeyName(i); ++i) Dump(path + u"\\" + *name, out);
    for (uint32_t i = 0; auto value = key->ValueAt(i); ++i)
        out.push_back(text::ToUtf8(path + u"|" + value->name) + "|" + std::to_string(value->type) +
                      "|" + std::string(value->data.begin(), value->data.end()));
}

}  // namespace

TEST(RegStream, TreeRoundTripsIntoAnEmptyRegistry) {
    TestHome home;
    MakeTree();
    std::vector<std::string> before;
    Dump(u"Software\\T", before);
    RegStream collected(reg::kHkeyCurrentUser, u"Software\\T");
    auto bytes = ReadAll(collected);
    EXPECT_EQ(bytes.size(), collected.GetSize());
    // Subkey values come first: the first record is the deepest key's.
    EXPECT_EQ(text::GetFixedUtf16(std::span(bytes).subspan(4, 4096)), u"Software\\T\\Sub\\Deeper");
    EXPECT_EQ(text::GetU32(bytes.data()), reg::kHkeyCurrentUser);

    TestHome other;
    RegStream writer(u"Software\\T");
    EXPECT_EQ(writer.Write(bytes.data(), static_cast<int32_t>(bytes.size())),
              static_cast<int32_t>(bytes.size()));
    std::vector<std::string> after;
    Dump(u"Software\\T", after);
    EXPECT_EQ(after, before);
    EXPECT_EQ(writer.AppliedCount(), 4u);
}

TEST(RegStream, ByteAtATimeAppliesTheSameAsWhole) {
    TestHome home;
    MakeTree();
    RegStream collected(reg::kHkeyCurrentUser, u"Software\\T");
    auto bytes = ReadAll(collected);
    std::vector<std::string> before;
    Dump(u"Software\\T", before);
    TestHome other;
    RegStream writer(u"Software\\T");
    for (uint8_t b : bytes) writer.Write(&b, 1);
    std::vector<std::string> after;
    Dump(u"Software\\T", after);
    EXPECT_EQ(after, before);
}

TEST(RegStream, CutSerialisationAppliesOnlyCompleteRecords) {
    TestHome home;
    MakeTree();
    RegStream collected(reg::kHkeyCurrentUser, u"Software\\T");
    auto bytes = ReadAll(collected);
    TestHome other;
    {
        RegStream writer(u"Software\\T");
        // The first record ("Str", 12 bytes of data) whole, then half of the second.
        writer.Write(bytes.data(), v::kRegRecordHeaderSize + 12 + 2000);
        EXPECT_EQ(writer.AppliedCount(), 1u);
    }
    auto key = reg::Key::Open(reg::kHkeyCurrentUser, u"Software\\T\\Sub\\Deeper");
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->Query(u"Str"));
    EXPECT_FALSE(key->Query(u"Bin"));
}

TEST(RegStream, RecordsOutsideTheTreeAreSkippedAndCounted) {
    TestHome home;
    auto record = [](uint32_t root, const char16_t* path) {
        std::vector<uint8_t> r(v::kRegRecordHeaderSize, 0);
        text::PutU32(r.data(), root);
        text::PutFixedUtf16(std::span(r).subspan(4, 4096), path);
        text::PutU32(r.data() + v::kRegRecordTypeAt, reg::kRegBinary);
        return r;
    };
    std::vector<uint8_t> stream;
    for (auto [root, path] :
         {std::pair{reg::kHkeyCurrentUser, u"Identities\\{1}\\Software"},
          {reg::kHkeyCurrentUser, u"Software\\Microsoft\\Outlook ExpressX"},
          {0x80000002u, u"Software\\Microsoft\\Outlook Express"},
          {reg::kHkeyCurrentUser, u"Software\\Microsoft\\Outlook Express\\\\x"},
          {reg::kHkeyCurrentUser, u"software\\microsoft\\outlook express\\Mail"}}) {
        auto r = record(root, path);
        stream.insert(stream.end(), r.begin(), r.end());
    }
    RegStream writer(u"Software\\Microsoft\\Outlook Express");
    writer.Write(stream.data(), static_cast<int32_t>(stream.size()));
    EXPECT_EQ(writer.RefusedCount(), 4u);
    EXPECT_EQ(writer.AppliedCount(), 1u);  // below its own key, in any letter case
    EXPECT_FALSE(reg::Key::Open(reg::kHkeyCurrentUser, u"Identities"));
}

TEST(RegStream, EmptyValueRecordCreatesTheKey) {
    TestHome home;
    std::vector<uint8_t> record(v::kRegRecordHeaderSize, 0);
    text::PutU32(record.data(), reg::kHkeyCurrentUser);
    text::PutFixedUtf16(std::span(record).subspan(4, 4096), u"A\\B\\C");
    text::PutU32(record.data() + v::kRegRecordTypeAt, reg::kRegBinary);
    RegStream writer(u"A");
    writer.Write(record.data(), v::kRegRecordHeaderSize);
    auto key = reg::Key::Open(reg::kHkeyCurrentUser, u"A\\B\\C");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->Query(u"")->data.size(), 0u);
}

TEST(RegStream, DamagedLengthStopsApplyingAtThatRecord) {
    TestHome home;
    std::vector<uint8_t> stream;
    auto add = [&](const char16_t* name, uint32_t declared, size_t actual) {
        std::vector<uint8_t> r(v::kRegRecordHeaderSize + actual, 'x');
        std::fill(r.begin(), r.begin() + v::kRegRecordHeaderSize, 0);
        text::PutU32(r.data(), reg::kHkeyCurrentUser);
        text::PutFixedUtf16(std::span(r).subspan(4, 4096), u"D");
        text::PutFixedUtf16(std::span(r).subspan(4100, 600), name);
        text::PutU32(r.data() + v::kRegRecordTypeAt, reg::kRegBinary);
        text::PutU32(r.data() + 4704, declared);
        stream.insert(stream.end(), r.begin(), r.end());
    };
    add(u"good", 2, 2);
    add(u"bad", 0x80000000u, 4);
    add(u"after", 2, 2);
    RegStream writer(u"D");
    writer.Write(stream.data(), static_cast<int32_t>(stream.size()));
    EXPECT_TRUE(writer.Damaged());
    auto key = reg::Key::Open(reg::kHkeyCurrentUser, u"D");
    EXPECT_TRUE(key->Query(u"good"));
    EXPECT_FALSE(key->Query(u"after"));
}

TEST(RegStream, OverlongNamesAreSkippedNotTruncated) {
    TestHome home;
    auto key = reg::Key::Create(reg::kHkeyCurrentUser, u"L");
    key->SetString(std::u16string(300, u'n'), u"long");
    key->SetString(u"short", u"ok");
    RegStream collected(reg::kHkeyCurrentUser, u"L");
    EXPECT_EQ(collected.SkippedNames().size(), 1u);
    EXPECT_EQ(collected.GetSize(), static_cast<uint64_t>(v::kRegRecordHeaderSize) + 6);
}

TEST(RegValueStream, AcceptsOnlyUpToTheEndOfItsRecord) {
    std::vector<uint8_t> bytes(v::kRegRecordHeaderSize + 3 + 10, 0);
    text::PutU32(bytes.data() + 4704, 3);
    RegValueStream r;
    EXPECT_EQ(r.Write(bytes.data(), static_cast<int32_t>(bytes.size())), 4711);
    EXPECT_TRUE(r.Complete());
    EXPECT_EQ(r.GetSize(), 4711u);
}

TEST(RegStream, MissingKeySerialisesToNothing) {
    TestHome home;
    RegStream collected(reg::kHkeyCurrentUser, u"Nope");
    uint8_t b;
    EXPECT_EQ(collected.GetSize(), 0u);
    EXPECT_EQ(collected.Read(&b, 1), 0);
}
