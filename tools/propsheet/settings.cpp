#include "settings.h"

#include <windows.h>

#include <cstring>
#include <strings.h>

namespace propsheet {

// A TV picture centred, on, composite output, underscan, the first format, mid brightness
// (51 to 80 in steps of 3 reach 66), mid tuning, the sharper setting and the flicker filter on.
const std::vector<FactoryValue> kTvFactoryDefaults = {
    {"SST_TV_ENABLE_KVX", "1"},      {"SST_TV_OUTPUT_KVX", "0"}, {"SST_TV_SCAN_KVX", "0"},
    {"SST_TV_FORMAT_KVX", "0"},      {"SST_TV_XSHIFT_KVX", "0"}, {"SST_TV_YSHIFT_KVX", "0"},
    {"SST_TV_BRIGHTNESS_KVX", "66"}, {"SST_TV_TUNING_KVX", "7"}, {"SST_TV_SHARPNESS_KVX", "3"},
    {"SST_TV_FFILTER_KVX", "3"},
};

// Correction on with the default curve on every channel.
const std::vector<FactoryValue> kGammaFactoryDefaults = {
    {"SST_RGAMMA", "1.7"},      {"SST_GGAMMA", "1.7"},     {"SST_BGAMMA", "1.7"},
    {"=CurrGammaColor", "RGB"}, {"=CurrGammaEnable", "1"},
};

bool key_below_local_machine(const std::string& path, std::string& relative) {
    for (const char* root : {"HKEY_LOCAL_MACHINE", "HKLM"}) {
        size_t n = strlen(root);
        if (path.size() >= n && strncasecmp(path.c_str(), root, n) == 0 &&
            (path.size() == n || path[n] == '\\')) {
            relative = path.size() == n ? "" : path.substr(n + 1);
            return true;
        }
    }
    if (strncasecmp(path.c_str(), "HKEY_", 5) == 0 || strncasecmp(path.c_str(), "HKCU", 4) == 0)
        return false;
    relative = path;
    return true;
}

bool read_setting(const std::string& key, const std::string& value, std::string& text) {
    HKEY hkey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &hkey) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = 0;
    LONG rc = RegQueryValueExA(hkey, value.c_str(), nullptr, &type, nullptr, &size);
    std::string data(size, '\0');
    if (rc == ERROR_SUCCESS && size > 0)
        rc = RegQueryValueExA(hkey, value.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(hkey);
    if (rc != ERROR_SUCCESS)
        return false;
    data.resize(std::min<size_t>(size, data.size()));
    text = data.substr(0, data.find('\0')); // texts end at their terminating zero
    return true;
}

// What a registry call's error means, for a person; the store names the file on stderr.
std::string describe_registry_error(LONG code) {
    switch (code) {
    case ERROR_ACCESS_DENIED:
        return "access denied: the registry file or its folder is read-only (error 5)";
    case ERROR_CANTWRITE:
        return "the registry file could not be written, the disk may be full (error 1013)";
    case ERROR_REGISTRY_CORRUPT:
        return "the registry file is damaged and is left as it is (error 1015)";
    case ERROR_CANTREAD:
        return "the registry file could not be read (error 1012)";
    default:
        return "error " + std::to_string(code);
    }
}

platform::Status write_setting(const std::string& key, const std::string& value,
                               const std::string& text) {
    HKEY hkey;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &hkey, nullptr);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetValueExA(hkey, value.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1));
        RegCloseKey(hkey);
    }
    if (rc != ERROR_SUCCESS)
        return platform::fail("cannot write " + key + "\\" + value + ": " +
                              describe_registry_error(rc));
    return {};
}

platform::Status write_missing(const std::string& key, const std::vector<FactoryValue>& values) {
    for (auto& v : values) {
        std::string text;
        if (read_setting(key, v.name, text))
            continue;
        if (auto written = write_setting(key, v.name, v.text); !written)
            return written;
    }
    return {};
}

} // namespace propsheet
