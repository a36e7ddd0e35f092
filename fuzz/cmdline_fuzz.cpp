// The command line: the start-up code's tail (WINTEST_COMMAND_LINE, every byte as given) and
// the program's splitter that cuts it into at most 32 words in a 1,024-byte copy.
#include "shell.h"
#include "win32/startup.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* g_tail = nullptr;

// Checks what the splitter promises: 1 to 32 words, each non-empty, inside the copy, and
// none of them holding a space but the 32nd (which keeps the rest of the line).
void check_words(char** words, int count) {
    if (count < 1 || count > 32 || std::strcmp(words[0], "WinTest") != 0)
        std::abort();
    for (int i = 1; i < count; ++i) {
        const char* w = words[i];
        if (w < CommandLineCopy || w >= CommandLineCopy + sizeof CommandLineCopy || *w == '\0')
            std::abort();
        size_t room = size_t(CommandLineCopy + sizeof CommandLineCopy - w);
        if (strnlen(w, room) == room)
            std::abort(); // not terminated inside the copy
        if (i < 31 && std::strchr(w, ' ') != nullptr)
            std::abort();
    }
}

int WINAPI split_tail(HINSTANCE, HINSTANCE, LPSTR tail, int) {
    if (g_tail == nullptr || std::strcmp(tail, g_tail + std::strspn(g_tail, " \t")) != 0)
        std::abort(); // the start-up code changed more than the leading blanks
    int count = 0;
    char** words = SplitCommandLine(tail, &count);
    check_words(words, count);
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string tail(reinterpret_cast<const char*>(data), size);
    tail = tail.substr(0, tail.find('\0')); // an environment value ends at its first NUL
    setenv("WINTEST_COMMAND_LINE", tail.c_str(), 1);
    g_tail = tail.c_str();
    char name[] = "wintest";
    char* argv[] = {name, nullptr};
    win32::run_winmain(1, argv, split_tail);
    g_tail = nullptr;
    return 0;
}
