// The offline image check of whole images (five key trials at worst, the body decrypted
// and digested).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <random>
#include <string>

#include "image/FirmwareImage.h"
#include "tools/ImageSigner.h"

namespace {
void ImageCheck(benchmark::State& state) {
    std::vector<uint8_t> body(static_cast<size_t>(state.range(0)) * 1024);
    std::mt19937 rng(8);
    for (auto& b : body)
        b = static_cast<uint8_t>(rng());
    // Product 5 is the last key tried.
    const std::string key = std::string(OSTRA_SOURCE_DIR) + "/keys/development-only/product5.pem";
    const std::string path = "/tmp/ostra-bench-image-" + std::to_string(::getpid());
    writeFileBytes(path, makeFirmwareImage(key, body, ImageSpec{}));
    for (auto _ : state) {
        const FirmwareImageInfo info = examineFirmwareImage(path);
        if (info.verdict != FirmwareImageInfo::Verdict::Intact) {
            state.SkipWithError("image not intact");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(body.size()));
    ::unlink(path.c_str());
}
BENCHMARK(ImageCheck)->Arg(64)->Arg(1024)->Arg(8192)->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
