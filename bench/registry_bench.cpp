// The registry store's costs as the store grows: one value written (the whole file read,
// changed and written back under the lock) and one value read (the whole file read), with a
// store of N sibling keys, N values in one key, or one key N levels deep.
//
// Every figure should grow with the file's size and no faster: the counters give the file's
// size and the bytes of it handled per second, which stays flat when the store is linear.
//
//   build/bin/registry_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <windows.h>

#include "win32/registry.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

enum class Shape { Keys, Values, Depth };

// REGEDIT4 text of a store of the given shape and size.
std::string store_text(Shape shape, int n) {
    std::string text = "REGEDIT4\n\n";
    std::string path = "HKEY_LOCAL_MACHINE\\Software\\Bench";
    text += "[" + path + "]\n";
    for (int i = 0; i < n; ++i) {
        std::string name = "k" + std::to_string(i);
        switch (shape) {
        case Shape::Keys:
            text += "[" + path + "\\" + name + "]\n\"v\"=\"" + name + "\"\n";
            break;
        case Shape::Values:
            text += "\"" + name + "\"=\"some text " + name + "\"\n";
            break;
        case Shape::Depth:
            path += "\\d";
            text += "[" + path + "]\n";
            break;
        }
    }
    return text;
}

// A fresh store of the shape, imported whole, and the size of its file.
size_t prepare(Shape shape, int n) {
    std::string file = std::string(std::getenv("WINTEST_PREFIX")) + "/registry.reg";
    std::filesystem::remove(file);
    if (!win32::import_registry(store_text(shape, n)))
        std::abort();
    return size_t(std::filesystem::file_size(file));
}

// The file's size, and the rate at which its bytes go through (flat when the store is linear).
void report(benchmark::State& state, size_t bytes) {
    state.counters["file_bytes"] = double(bytes);
    state.SetBytesProcessed(int64_t(bytes) * int64_t(state.iterations()));
}

void Write(benchmark::State& state, Shape shape) {
    size_t bytes = prepare(shape, int(state.range(0)));
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Bench", 0, KEY_ALL_ACCESS, &key);
    DWORD i = 0;
    for (auto _ : state) {
        ++i;
        if (RegSetValueExA(key, "changed", 0, REG_DWORD, reinterpret_cast<BYTE*>(&i), 4) !=
            ERROR_SUCCESS)
            state.SkipWithError("write failed");
    }
    RegCloseKey(key);
    report(state, bytes);
}

void Read(benchmark::State& state, Shape shape) {
    size_t bytes = prepare(shape, int(state.range(0)));
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Bench", 0, KEY_READ, &key);
    for (auto _ : state) {
        char text[64];
        DWORD size = sizeof text;
        LONG r = RegQueryValueExA(key, shape == Shape::Values ? "k0" : "missing", nullptr, nullptr,
                                  reinterpret_cast<BYTE*>(text), &size);
        benchmark::DoNotOptimize(r);
    }
    RegCloseKey(key);
    report(state, bytes);
}

void WriteKeys(benchmark::State& s) {
    Write(s, Shape::Keys);
}
void WriteValues(benchmark::State& s) {
    Write(s, Shape::Values);
}
void WriteDepth(benchmark::State& s) {
    Write(s, Shape::Depth);
}
void ReadKeys(benchmark::State& s) {
    Read(s, Shape::Keys);
}
void ReadValues(benchmark::State& s) {
    Read(s, Shape::Values);
}
void ReadDepth(benchmark::State& s) {
    Read(s, Shape::Depth);
}

// Keys and values: 1k, 10k, 100k. Depth: the file of a key N levels deep holds every
// ancestor's full path, so it grows as N squared; 100 to 3,000 levels already span 1 KB to
// 9 MB.
BENCHMARK(WriteKeys)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteValues)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteDepth)->Arg(100)->Arg(1000)->Arg(3000)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadKeys)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadValues)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadDepth)->Arg(100)->Arg(1000)->Arg(3000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // A prefix of its own, so that the bench never touches a user's registry.
    char dir[] = "/tmp/registry-bench-XXXXXX";
    if (!::mkdtemp(dir))
        return 1;
    ::setenv("WINTEST_PREFIX", dir, 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(dir);
    return 0;
}
