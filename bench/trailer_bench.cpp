// Locating the trailer behind 16 MiB of appended bytes, against reading those bytes once.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "common/text.h"
#include "platform/files.h"
#include "package/package.h"

namespace {

constexpr std::size_t kJunk = 16u << 20;

const std::string& ImagePath() {
    static const std::string path = [] {
        std::string p = "/tmp/trailer_bench_" + std::to_string(::getpid()) + ".exe";
        std::ofstream out(p, std::ios::binary);
        out << std::string(200000, 's');
        const auto sig = SignatureBytes(TrailerKind::Installer);
        out.write(reinterpret_cast<const char*>(sig.data()), sig.size());
        std::string junk(kJunk, '\0');
        for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>('a' + i % 23);
        out << junk;
        return p;
    }();
    return path;
}

platform::File Open() { return platform::File::OpenRead(text::Utf8ToUtf16(ImagePath()), platform::Share::DenyNone); }

void BM_LocateTrailer(benchmark::State& state) {
    auto file = Open();
    for (auto _ : state) benchmark::DoNotOptimize(LocateTrailer(file));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kJunk));
}
BENCHMARK(BM_LocateTrailer)->Unit(benchmark::kMillisecond);

void BM_SequentialRead(benchmark::State& state) {
    auto file = Open();
    auto buffer = std::make_unique<char[]>(1 << 16);
    const std::int64_t size = file.Size();
    for (auto _ : state) {
        for (std::int64_t pos = size - static_cast<std::int64_t>(kJunk); pos < size; pos += 1 << 16)
            benchmark::DoNotOptimize(file.ReadAt(pos, buffer.get(), 1 << 16));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kJunk));
}
BENCHMARK(BM_SequentialRead)->Unit(benchmark::kMillisecond);

// One positioned 20-byte read per byte of distance, over 1 MiB only: it is that slow.
void BM_ByteByByteScan1MiB(benchmark::State& state) {
    auto file = Open();
    const std::int64_t size = file.Size();
    std::uint8_t window[20];
    for (auto _ : state) {
        for (std::int64_t end = size; end > size - (1 << 20); --end) {
            file.ReadAt(end - 20, window, 20);
            benchmark::DoNotOptimize(ClassifyTrailer(window));
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) << 20);
}
BENCHMARK(BM_ByteByByteScan1MiB)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(ImagePath().c_str());
    return 0;
}
