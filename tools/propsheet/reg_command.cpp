// `propsheet reg get|set|export|import`: the prefix's registry from the command line.
#include "session.h"
#include "settings.h"

#include "platform/file.h"

#include <fstream>
#include <iostream>
#include <sstream>

namespace propsheet {

namespace {

bool relative_key(const std::string& path, std::string& key, std::string& error) {
    if (key_below_local_machine(path, key))
        return true;
    error = "only keys under HKEY_LOCAL_MACHINE are kept: " + path;
    return false;
}

// A file named on the command line, or standard input for "-".
bool read_file(const std::string& path, std::string& text, std::string& error) {
    if (path == "-") {
        std::ostringstream data;
        data << std::cin.rdbuf();
        text = data.str();
        return true;
    }
    auto bytes = platform::read_file(path);
    if (!bytes)
        return error = bytes.message(), false;
    text.assign(bytes->begin(), bytes->end());
    return true;
}

} // namespace

int run_reg_command(FILE* out, const std::vector<std::string>& a, std::string& error) {
    const std::string usage = "usage: reg get <key> [<value>] | reg set <key> <value> <text> | "
                              "reg export [<key> [<file>]] | reg import <file>|-";
    std::string verb = a.empty() ? "" : a[0];
    std::string key;
    if (verb == "get" && (a.size() == 2 || a.size() == 3)) {
        if (!relative_key(a[1], key, error))
            return 2;
        if (a.size() == 3) {
            std::string text;
            if (!read_setting(key, a[2], text))
                return error = "no value " + a[2] + " in " + a[1], 1;
            fprintf(out, "%s\n", text.c_str());
            return 0;
        }
        auto text = export_registry_text(key);
        if (!text)
            return error = text.message(), 1;
        fputs(text->c_str(), out);
        return 0;
    }
    if (verb == "set" && a.size() == 4) {
        if (!relative_key(a[1], key, error))
            return 2;
        auto written = write_setting(key, a[2], a[3]);
        if (!written)
            return error = written.message(), 1;
        return 0;
    }
    if (verb == "export" && a.size() <= 3) {
        if (a.size() >= 2 && !relative_key(a[1], key, error))
            return 2;
        auto text = export_registry_text(key);
        if (!text)
            return error = text.message(), 1;
        if (a.size() < 3 || a[2] == "-") {
            fputs(text->c_str(), out);
            return 0;
        }
        std::ofstream file(a[2], std::ios::binary);
        file << *text;
        file.close();
        if (!file)
            return error = "cannot write " + a[2], 1;
        return 0;
    }
    if (verb == "import" && a.size() == 2) {
        std::string text;
        if (!read_file(a[1], text, error))
            return 1;
        auto imported = import_registry_text(text);
        if (!imported)
            return error = imported.message(), 1;
        return 0;
    }
    error = usage;
    return 2;
}

} // namespace propsheet
