// The registry behind the Win32 calls: a tree of keys and values in memory, its REGEDIT4
// text form, and the file in the prefix that keeps HKEY_LOCAL_MACHINE between processes.
//
// Key paths are relative to HKEY_LOCAL_MACHINE, components joined by '\', case kept; ""
// is HKEY_LOCAL_MACHINE itself. Key and value names match ignoring ASCII case.
#pragma once

#include <windows.h>

#include "platform/result.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace win32::registry {

struct Value {
    std::string name; // case kept; "" is the key's default value
    DWORD type{REG_NONE};
    std::vector<uint8_t> data; // raw bytes, as set
};

struct Key {
    std::string path;          // below HKEY_LOCAL_MACHINE, case as first created
    std::vector<Value> values; // in the order they were first set; change through the calls

    [[nodiscard]] const Value* find_value(std::string_view name) const;
    void set_value(std::string_view name, DWORD type, std::vector<uint8_t> data);
    bool delete_value(std::string_view name);

private:
    // Position in `values` by folded name, so that a key of many values is read and written
    // in time linear in their number.
    std::unordered_map<std::string, size_t> m_index;
};

// ASCII lower case: the form in which names are compared.
[[nodiscard]] std::string fold(std::string_view text);

// Checks a subkey text and joins it to a key path: components may not be empty (one trailing
// '\' is allowed) and may not hold line breaks. Empty `sub` gives `base`. None when invalid.
[[nodiscard]] std::optional<std::string> join_path(std::string_view base, std::string_view sub);

// Keys as a tree of nodes, each with its subkeys by folded name: finding a key costs the
// length of its path, listing a key's subkeys their number, so files of many keys, deep keys
// and wide keys all read and write in time linear in their size. Nodes never move (a deque),
// so the Key pointers handed out stay valid until the key is removed or the tree is assigned.
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
    using NodeId = uint32_t;
    struct Node {
        Key key;
        std::map<std::string, NodeId> children; // by folded last component
    };

    [[nodiscard]] std::optional<NodeId> find_node(std::string_view path) const;

    std::deque<Node> m_nodes; // m_nodes[0] is HKEY_LOCAL_MACHINE itself
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
// is never overwritten; a file that cannot be written (a full disk, a read-only prefix) is
// left as it was, with one stderr line that says why and names it.
//
// Failures are errors whose message names the file and the cause and whose code is the
// Win32 error the registry calls return: ERROR_REGISTRY_CORRUPT, ERROR_CANTREAD,
// ERROR_CANTWRITE, ERROR_ACCESS_DENIED.
class FileStore {
public:
    explicit FileStore(std::string path) : m_path(std::move(path)) {}

    // A missing file reads as an empty tree.
    [[nodiscard]] platform::Status load(Tree& tree) const;
    // The tree as the file holds it now, for reading: parsed once per version of the file,
    // so a program that reads twenty settings from an unchanged store parses it once.
    [[nodiscard]] platform::Result<std::shared_ptr<const Tree>> snapshot() const;

    struct Change {
        LONG code{ERROR_SUCCESS};
        bool modified{false}; // write the tree back
    };
    // Runs `change` on the current tree under the lock; writes the result when it succeeded
    // and modified the tree. The change's own code, or the error of the lock, load or write.
    [[nodiscard]] platform::Result<LONG> update(const std::function<Change(Tree&)>& change) const;

    [[nodiscard]] const std::string& path() const { return m_path; }

private:
    [[nodiscard]] platform::Status write(const Tree& tree) const;

    std::string m_path;
};

// The Win32 code of a store's answer: the change's own code, or the failure's.
[[nodiscard]] inline LONG code_of(const platform::Result<LONG>& result) {
    return result ? *result : LONG(result.error().code);
}

} // namespace win32::registry
