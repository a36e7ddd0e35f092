// The registry calls of the Win32 subset (ADVAPI32): HKEY_LOCAL_MACHINE only, kept in
// registry.reg in the prefix (registry_store.h). Each call reads the file afresh, so other
// processes' changes are seen at once; each change goes through FileStore::update.
//
// Results follow the documented Win32 behaviour: ERROR_FILE_NOT_FOUND for a missing key or
// value, ERROR_MORE_DATA (and the size needed) when a buffer is short, raw bytes of every
// type as stored. A damaged file gives ERROR_REGISTRY_CORRUPT from every call and is left
// alone. Other predefined roots are not kept: ERROR_INVALID_HANDLE.
#include <windows.h>

#include "registry_store.h"
#include "win32/registry.h"

#include "platform/events.h"
#include "platform/prefix.h"

#include <cstring>
#include <map>
#include <mutex>

namespace win32::registry {

namespace {

// The open key handles of this process. Handle values start at 0x1000 and step by 4, so they
// never meet the predefined roots (0x80000000 and up) or NULL.
class Handles {
public:
    static Handles& the() {
        static Handles s_handles;
        return s_handles;
    }

    struct Entry {
        std::string path;
        REGSAM access{KEY_ALL_ACCESS};
    };

    HKEY open(std::string path, REGSAM access) {
        std::lock_guard guard(m_mutex);
        uintptr_t value = m_next;
        m_next += 4;
        m_open[value] = {std::move(path), access};
        return reinterpret_cast<HKEY>(value);
    }

    // The key that a handle names; none for a closed or unknown handle.
    std::optional<Entry> resolve(HKEY key) {
        if (key == HKEY_LOCAL_MACHINE)
            return Entry{};
        std::lock_guard guard(m_mutex);
        auto it = m_open.find(reinterpret_cast<uintptr_t>(key));
        if (it == m_open.end())
            return std::nullopt;
        return it->second;
    }

    bool close(HKEY key) {
        std::lock_guard guard(m_mutex);
        return m_open.erase(reinterpret_cast<uintptr_t>(key)) > 0;
    }

private:
    std::mutex m_mutex;
    std::map<uintptr_t, Entry> m_open;
    uintptr_t m_next{0x1000};
};

FileStore store() {
    return FileStore(platform::prefix_path("registry.reg"));
}

bool is_predefined(HKEY key) {
    return reinterpret_cast<uintptr_t>(key) >= 0x80000000u;
}

// The handle's key as it is in the file now: ERROR_INVALID_HANDLE for an unknown handle,
// ERROR_KEY_DELETED when an import removed the key after it was opened.
LONG current_key(HKEY handle, std::shared_ptr<const Tree>& tree, const Key*& key, REGSAM needed) {
    auto entry = Handles::the().resolve(handle);
    if (!entry)
        return ERROR_INVALID_HANDLE;
    if ((entry->access & needed) != needed)
        return ERROR_ACCESS_DENIED;
    auto snapshot = store().snapshot();
    if (!snapshot)
        return LONG(snapshot.error().code);
    tree = *snapshot;
    key = tree->find(entry->path);
    return key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// Copies `size` bytes out as RegQueryValueEx does: the size always, the bytes only when the
// buffer is large enough.
LONG copy_out(const std::vector<uint8_t>& bytes, LPBYTE data, LPDWORD dataSize) {
    if (data && !dataSize)
        return ERROR_INVALID_PARAMETER;
    DWORD offered = dataSize ? *dataSize : 0;
    if (dataSize)
        *dataSize = DWORD(bytes.size());
    if (!data)
        return ERROR_SUCCESS;
    if (offered < bytes.size())
        return ERROR_MORE_DATA;
    if (!bytes.empty())
        std::memcpy(data, bytes.data(), bytes.size());
    return ERROR_SUCCESS;
}

// Copies a name with its zero byte; ERROR_MORE_DATA when it does not fit. *size counts
// characters: the room on entry, the name's length without the zero on success.
LONG copy_name(const std::string& name, LPSTR buffer, LPDWORD size) {
    if (!buffer || !size)
        return ERROR_INVALID_PARAMETER;
    if (*size < name.size() + 1)
        return ERROR_MORE_DATA;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *size = DWORD(name.size());
    return ERROR_SUCCESS;
}

// The last component of a key path.
std::string leaf_name(const std::string& path) {
    size_t cut = path.rfind('\\');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

LONG open_or_create(HKEY key, LPCSTR subKey, REGSAM access, bool create, PHKEY result,
                    LPDWORD disposition) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    auto entry = Handles::the().resolve(key);
    if (!entry)
        return ERROR_INVALID_HANDLE;
    if (subKey && subKey[0] == '\\')
        return ERROR_BAD_PATHNAME;
    auto path = join_path(entry->path, subKey ? subKey : "");
    if (!path)
        return ERROR_BAD_PATHNAME;
    auto tree = store().snapshot();
    if (!tree)
        return LONG(tree.error().code);
    const Key* found = (*tree)->find(*path);
    bool created = false;
    if (!found && !create)
        return ERROR_FILE_NOT_FOUND;
    if (!found) {
        LONG code = code_of(store().update([&](Tree& t) {
            t.create(*path, &created);
            return FileStore::Change{ERROR_SUCCESS, created};
        }));
        if (code != ERROR_SUCCESS)
            return code;
    }
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    // Keep the case of the key as stored, which the created path has too.
    *result = Handles::the().open(found ? found->path : *path, access);
    return ERROR_SUCCESS;
}

} // namespace

} // namespace win32::registry

using namespace win32::registry;

extern "C" {

/***********************************************************************
 *           RegCreateKeyExA
 *
 * Opens the subkey, creating it and its missing parents. The class, options and security
 * are not kept. *disposition tells whether the key was created or already there.
 */
LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                            REGSAM desired, const SECURITY_ATTRIBUTES* security, PHKEY result,
                            LPDWORD disposition) {
    return open_or_create(key, subKey, desired, true, result, disposition);
}

/***********************************************************************
 *           RegCreateKeyA
 *
 * Opens or creates the subkey with full access. An empty or NULL subkey gives back the
 * handle that was passed in, as on Windows.
 */
LONG WINAPI RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    if (!subKey || !subKey[0]) {
        if (!Handles::the().resolve(key))
            return ERROR_INVALID_HANDLE;
        *result = key;
        return ERROR_SUCCESS;
    }
    return open_or_create(key, subKey, KEY_ALL_ACCESS, true, result, nullptr);
}

/***********************************************************************
 *           RegOpenKeyExA
 *
 * Opens an existing subkey; ERROR_FILE_NOT_FOUND when it does not exist.
 */
LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    return open_or_create(key, subKey, desired, false, result, nullptr);
}

/***********************************************************************
 *           RegQueryValueExA
 *
 * Gives a value's type and raw bytes (NULL or "" names the default value). With a buffer
 * too small: ERROR_MORE_DATA, *dataSize the size needed, the buffer untouched.
 */
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD dataSize) {
    if (reserved)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<const Tree> tree;
    const Key* k = nullptr;
    if (LONG code = current_key(key, tree, k, KEY_QUERY_VALUE); code != ERROR_SUCCESS)
        return code;
    const Value* v = k->find_value(valueName ? valueName : "");
    if (!v)
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = v->type;
    return copy_out(v->data, data, dataSize);
}

/***********************************************************************
 *           RegSetValueExA
 *
 * Stores the bytes as given under the type (a REG_SZ keeps whatever terminator the caller
 * counted in dataSize). Names holding line breaks are refused: ERROR_INVALID_PARAMETER.
 */
LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD dataSize) {
    std::string name = valueName ? valueName : "";
    if (name.find_first_of("\r\n") != std::string::npos || (!data && dataSize))
        return ERROR_INVALID_PARAMETER;
    auto entry = Handles::the().resolve(key);
    if (!entry)
        return ERROR_INVALID_HANDLE;
    if (!(entry->access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    std::vector<uint8_t> bytes(data, data + (data ? dataSize : 0));
    LONG code = code_of(store().update([&](Tree& tree) {
        Key* k = tree.find(entry->path);
        if (!k)
            return FileStore::Change{ERROR_KEY_DELETED, false};
        k->set_value(name, type, std::move(bytes));
        return FileStore::Change{ERROR_SUCCESS, true};
    }));
    if (code == ERROR_SUCCESS) { // observers may read the store from now on
        platform::Event changed;
        changed.kind = platform::EventKind::Registry;
        changed.name = "HKEY_LOCAL_MACHINE\\" + entry->path;
        changed.text = name;
        platform::emit(changed);
    }
    return code;
}

/***********************************************************************
 *           RegDeleteValueA
 *
 * Removes a value; ERROR_FILE_NOT_FOUND when there is none of that name.
 */
LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName) {
    auto entry = Handles::the().resolve(key);
    if (!entry)
        return ERROR_INVALID_HANDLE;
    if (!(entry->access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    std::string name = valueName ? valueName : "";
    return code_of(store().update([&](Tree& tree) {
        Key* k = tree.find(entry->path);
        if (!k)
            return FileStore::Change{ERROR_KEY_DELETED, false};
        if (!k->delete_value(name))
            return FileStore::Change{ERROR_FILE_NOT_FOUND, false};
        return FileStore::Change{ERROR_SUCCESS, true};
    }));
}

/***********************************************************************
 *           RegEnumValueA
 *
 * The index-th value of the key, in the order the values were first set. *valueNameSize
 * counts characters (room with the zero on entry, length without it on return).
 */
LONG WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                          LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (reserved || !valueName || !valueNameSize)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<const Tree> tree;
    const Key* k = nullptr;
    if (LONG code = current_key(key, tree, k, KEY_QUERY_VALUE); code != ERROR_SUCCESS)
        return code;
    if (index >= k->values.size())
        return ERROR_NO_MORE_ITEMS;
    const Value& v = k->values[index];
    if (LONG code = copy_name(v.name, valueName, valueNameSize); code != ERROR_SUCCESS)
        return code;
    if (type)
        *type = v.type;
    return copy_out(v.data, data, dataSize);
}

/***********************************************************************
 *           RegEnumKeyExA
 *
 * The index-th direct subkey, ordered by name ignoring case. No classes or times are kept:
 * the class comes back empty and the time zero.
 */
LONG WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                          LPSTR keyClass, LPDWORD classSize, void* lastWriteTime) {
    if (reserved || !name || !nameSize)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<const Tree> tree;
    const Key* k = nullptr;
    if (LONG code = current_key(key, tree, k, KEY_ENUMERATE_SUB_KEYS); code != ERROR_SUCCESS)
        return code;
    auto kids = tree->children(k->path);
    if (index >= kids.size())
        return ERROR_NO_MORE_ITEMS;
    if (LONG code = copy_name(leaf_name(kids[index]->path), name, nameSize); code != ERROR_SUCCESS)
        return code;
    if (keyClass && classSize && *classSize > 0)
        keyClass[0] = '\0';
    if (classSize)
        *classSize = 0;
    if (lastWriteTime)
        std::memset(lastWriteTime, 0, 8); // a FILETIME
    return ERROR_SUCCESS;
}

/***********************************************************************
 *           RegCloseKey
 *
 * Closes an open handle; closing a predefined root does nothing and succeeds.
 */
LONG WINAPI RegCloseKey(HKEY key) {
    if (is_predefined(key))
        return ERROR_SUCCESS;
    return Handles::the().close(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

} // extern "C"

namespace win32 {

platform::Result<std::string> export_registry(std::string_view key_path) {
    auto path = join_path("", key_path);
    if (!path)
        return platform::fail("bad key path: " + std::string(key_path), ERROR_BAD_PATHNAME);
    auto tree = store().snapshot();
    if (!tree)
        return tree.error();
    if (!(*tree)->find(*path))
        return platform::fail("no key HKEY_LOCAL_MACHINE\\" + *path, ERROR_FILE_NOT_FOUND);
    return format_regedit(**tree, *path);
}

platform::Status import_registry(std::string_view text) {
    // Check the text on its own first, so a faulty text names its own line and not the store.
    Tree scratch;
    if (auto failure = parse_regedit(text, scratch))
        return platform::fail("line " + std::to_string(failure->line) + ": " + failure->message,
                              ERROR_BADDB);
    auto result = store().update([&](Tree& tree) {
        (void)parse_regedit(text, tree);
        return FileStore::Change{ERROR_SUCCESS, true};
    });
    if (!result)
        return result.error();
    return {};
}

} // namespace win32
