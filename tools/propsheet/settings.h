// The settings keys of the tests, read and written through the Win32 registry calls, and the
// factory defaults that the sheet writes before it starts a test.
#pragma once

#include "platform/result.h"

#include <string>
#include <vector>

namespace propsheet {

struct FactoryValue {
    const char* name;
    const char* text;
};

// The TV defaults written into the default key (mode 0) when a value is missing there.
extern const std::vector<FactoryValue> kTvFactoryDefaults;
// The gamma values written into the settings key (mode 1) when missing.
extern const std::vector<FactoryValue> kGammaFactoryDefaults;

// "HKEY_LOCAL_MACHINE\A\B", "HKLM\A\B" and "A\B" all name A\B under HKEY_LOCAL_MACHINE;
// false for another root.
bool key_below_local_machine(const std::string& path, std::string& relative);

// Reads a value as text; false when the key or the value does not exist.
bool read_setting(const std::string& key, const std::string& value, std::string& text);
// Writes a REG_SZ value, creating the key; an error with the reason when the store refuses it.
platform::Status write_setting(const std::string& key, const std::string& value,
                               const std::string& text);
// Writes each factory value that the key does not hold yet; stops at the first write that fails.
platform::Status write_missing(const std::string& key, const std::vector<FactoryValue>& values);

} // namespace propsheet
