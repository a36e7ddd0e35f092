// The registry behind the Win32 calls: a tree of keys and values in memory, its REGEDIT4
// text form, and the file in the prefix that keeps HKEY_LOCAL_MACHINE between processes.
//
// Key paths are relative to HKEY_LOCAL_MACHINE, components joined by '\', case kept; ""
// is HKEY_LOCAL_MACHINE itself. Key and value names match ignoring ASCII case.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace win32::registry {

struct Value {
    std::string name; // case kept; "" is the key's default value
    DWORD type{REG_NONE};
    std::vector<uint8_t> data; // raw bytes, as set
};

struct Key {
    std::string path;          // below HKEY_LOCAL_MACHINE, case as first created
    std::vector<Value> values; // in the order they were first set

    [[nodiscard]] const Value* find_value(std::string_view name) const;
    void set_value(std::string_view name, DWORD type, std::vector<uint8_t> data);
    bool delete_value(std::string_view name);
};

// ASCII lower case: the form in which names are compared.
[[nodiscard]] std::string fold(std::string_view text);

// Checks a subkey text and joins it to a key path: components may not be empty (one trailing
// '\' is allowed) and may not hold line breaks. Empty `sub` gives `base`. None when invalid.
[[nodiscard]] std::optional<std::string> join_path(std::string_view base, std::string_view sub);

class Tree {
public:
    Tree();

    [[nodiscard]] const Key* find(std::string_view path) const;
    [[nodiscard]] Key* find(std::string_view path);
    // Creates the key and its missing ancestors; *created tells whether the key was new.
    Key& create(std::string_view path, bool* created = nullptr);
    // Removes the key and everything below it; false when missing or when it is the root.
    bool remove(std::string_view path);
    // The direct subkeys, ordered by folded name.
    [[nodiscard]] std::vector<const Key*> children(std::string_view path) const;
    // The key and every key below it, each parent before its subkeys.
    [[nodiscard]] std::vector<const Key*> subtree(std::string_view path) const;

private:
    std::map<std::string, Key> m_keys; // by folded path; every ancestor of a key is present
};

struct ParseError {
    int line{0}; // 1-based line of the text where reading stopped
    std::string message;
};

// Reads REGEDIT4 text and applies it to the tree: sections create keys, "[-...]" removes a
// key with its subkeys, "name"=- removes a value. Only HKEY_LOCAL_MACHINE is accepted.
[[nodiscard]] std::optional<ParseError> parse_regedit(std::string_view text, Tree& tree);

// The key at `path` and everything below it as REGEDIT4 text, header included. The root
// gets a section only when it holds values.
[[nodiscard]] std::string format_regedit(const Tree& tree, std::string_view path = "");

// The file that keeps the tree. Every change re-reads it under an exclusive lock, applies
// the change and replaces the file whole (temporary file, fsync, rename), so concurrent
// writers lose nothing and a writer killed at any moment leaves the last good file. A file
// that does not parse is refused (ERROR_REGISTRY_CORRUPT, one stderr line naming it) and
// is never overwritten.
class FileStore {
public:
    explicit FileStore(std::string path) : m_path(std::move(path)) {}

    // A missing file reads as an empty tree. ERROR_SUCCESS, ERROR_REGISTRY_CORRUPT or
    // ERROR_CANTREAD.
    [[nodiscard]] LONG load(Tree& tree, std::string* error = nullptr) const;

    struct Change {
        LONG code{ERROR_SUCCESS};
        bool modified{false}; // write the tree back
    };
    // Runs `change` on the current tree under the lock; writes the result when it succeeded
    // and modified the tree. Returns the change's code, or the load or write error.
    [[nodiscard]] LONG update(const std::function<Change(Tree&)>& change,
                              std::string* error = nullptr) const;

    [[nodiscard]] const std::string& path() const { return m_path; }

private:
    [[nodiscard]] LONG write(const Tree& tree) const;

    std::string m_path;
};

} // namespace win32::registry
