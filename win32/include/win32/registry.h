// The registry store seen from C++: whole key trees as REGEDIT4 text, for tools (the property
// sheet stand-in) that prepare or show the settings keys of the program.
//
// HKEY_LOCAL_MACHINE lives in registry.reg in the prefix. Both calls work on that file under
// the same lock as the Win32 registry calls, so they mix freely with them and with other
// processes.
#pragma once

#include <windows.h>

#include "platform/result.h"

#include <string>
#include <string_view>

namespace win32 {

// Failures carry a message naming the file or the line, and the Win32 error code in
// Error::code.

// HKEY_LOCAL_MACHINE\key_path and every key below it as REGEDIT4 text ("" exports the whole
// store). ERROR_FILE_NOT_FOUND when the key does not exist.
[[nodiscard]] platform::Result<std::string> export_registry(std::string_view key_path);

// Applies REGEDIT4 text to the store as one change: sections create keys and set their
// values, "[-HKEY_LOCAL_MACHINE\...]" removes a key and everything below it, "name"=- removes
// a value. Text that does not parse, or names another root, changes nothing
// (ERROR_BADDB, with the line in the message).
[[nodiscard]] platform::Status import_registry(std::string_view text);

} // namespace win32
