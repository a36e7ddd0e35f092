// `propsheet reg get|set|export|import`: the prefix's registry from the command line.
#include "session.h"
#include "settings.h"

#include "platform/file.h"

#include <fstream>
#include <iostream>
#include <sstream>

namespace propsheet {

namespace {

// The exit codes of `propsheet reg`: a request that failed, and a command line it cannot take.
constexpr long kFailed = 1;
constexpr long kUsage = 2;

// The key below HKEY_LOCAL_MACHINE that a key path names.
platform::Result<std::string> relative_key(const std::string& path) {
    std::string key;
    if (key_below_local_machine(path, key))
        return key;
    return platform::fail("only keys under HKEY_LOCAL_MACHINE are kept: " + path, kUsage);
}

// A file named on the command line, or standard input for "-".
platform::Result<std::string> read_file(const std::string& path) {
    if (path == "-") {
        std::ostringstream data;
        data << std::cin.rdbuf();
        return data.str();
    }
    auto bytes = platform::read_file(path);
    if (!bytes)
        return platform::fail(bytes.message(), kFailed);
    return std::string(bytes->begin(), bytes->end());
}

// A failure of the store as a failed request.
platform::Error failed(const platform::Error& error) {
    return platform::fail(error.message, kFailed);
}

} // namespace

platform::Status run_reg_command(FILE* out, const std::vector<std::string>& a) {
    const std::string usage = "usage: reg get <key> [<value>] | reg set <key> <value> <text> | "
                              "reg export [<key> [<file>]] | reg import <file>|-";
    std::string verb = a.empty() ? "" : a[0];
    if (verb == "get" && (a.size() == 2 || a.size() == 3)) {
        auto key = relative_key(a[1]);
        if (!key)
            return key.error();
        if (a.size() == 3) {
            std::string text;
            if (!read_setting(*key, a[2], text))
                return platform::fail("no value " + a[2] + " in " + a[1], kFailed);
            fprintf(out, "%s\n", text.c_str());
            return {};
        }
        auto text = export_registry_text(*key);
        if (!text)
            return failed(text.error());
        fputs(text->c_str(), out);
        return {};
    }
    if (verb == "set" && a.size() == 4) {
        auto key = relative_key(a[1]);
        if (!key)
            return key.error();
        auto written = write_setting(*key, a[2], a[3]);
        if (!written)
            return failed(written.error());
        return {};
    }
    if (verb == "export" && a.size() <= 3) {
        std::string key;
        if (a.size() >= 2) {
            auto relative = relative_key(a[1]);
            if (!relative)
                return relative.error();
            key = *relative;
        }
        auto text = export_registry_text(key);
        if (!text)
            return failed(text.error());
        if (a.size() < 3 || a[2] == "-") {
            fputs(text->c_str(), out);
            return {};
        }
        std::ofstream file(a[2], std::ios::binary);
        file << *text;
        file.close();
        if (!file)
            return platform::fail("cannot write " + a[2], kFailed);
        return {};
    }
    if (verb == "import" && a.size() == 2) {
        auto text = read_file(a[1]);
        if (!text)
            return text.error();
        auto imported = import_registry_text(*text);
        if (!imported)
            return failed(imported.error());
        return {};
    }
    return platform::fail(usage, kUsage);
}

} // namespace propsheet
