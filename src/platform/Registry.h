#pragma once
// The per-user registry: a hierarchical key/value store kept in one SQLite database
// ($TINDALE_REGISTRY, else $XDG_DATA_HOME/tindale/registry.db, else
// ~/.local/share/tindale/registry.db). Only HKEY_CURRENT_USER exists. Names compare
// case-insensitively and keep their case; subkeys enumerate in case-insensitive name
// order, values in creation order.
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tindale::reg {

inline constexpr uint32_t kHkeyCurrentUser = 0x80000001;

enum ValueType : uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegMultiSz = 7,
    kRegQword = 11,
};

inline constexpr size_t kMaxKeyNameUnits = 255;
inline constexpr size_t kMaxValueNameUnits = 16383;
inline constexpr size_t kMaxPathUnits = 2047;

struct Value {
    std::u16string name;
    uint32_t type = kRegNone;
    std::vector<uint8_t> data;
};

// An open key. Copyable; it names the key by its row, so it stays valid while the key exists.
class Key {
  public:
    // Opens an existing key below `root`; an empty path opens the root itself.
    static std::optional<Key> Open(uint32_t root, std::u16string_view path);
    // Opens or creates a key, creating missing intermediate keys.
    static std::optional<Key> Create(uint32_t root, std::u16string_view path);

    const std::u16string& Path() const { return path_; }
    std::optional<std::u16string> SubkeyName(uint32_t index) const;
    std::optional<Value> ValueAt(uint32_t index) const;
    std::optional<Value> Query(std::u16string_view name) const;
    bool Set(std::u16string_view name, uint32_t type, std::span<const uint8_t> data);

    // A string value: REG_SZ or REG_EXPAND_SZ, even length, NUL-terminated in its data.
    std::optional<std::u16string> QueryString(std::u16string_view name) const;
    bool SetString(std::u16string_view name, std::u16string_view value);
    bool DeleteValue(std::u16string_view name);

  private:
    Key(int64_t id, std::u16string path) : id_(id), path_(std::move(path)) {}
    int64_t id_;
    std::u16string path_;
};

// Groups many changes into one SQLite transaction (for restoring a whole settings tree);
// nested transactions join the outermost one. Other threads wait while one is open.
class Transaction {
  public:
    Transaction();
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    // Ends the transaction now; false when the outermost commit failed (a full disk), in
    // which case nothing of it was stored. A nested transaction commits with the outermost.
    bool Commit();
    // Ends the transaction and throws away what it wrote (when it is the outermost).
    void Abandon();

  private:
    std::unique_lock<std::recursive_mutex> lock_;
    bool done_ = false;
    bool ok_ = true;
};

// Where the database is for the current environment.
std::string DatabasePath();
// Closes the connection so that the next call re-reads the environment (tests switch HOME).
void CloseConnection();

// Splits a key path at backslashes, dropping empty components.
std::vector<std::u16string> SplitPath(std::u16string_view path);

}  // namespace tindale::reg
