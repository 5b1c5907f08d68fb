// The image check on arbitrary files, and on whole images made by the image tool with the
// development keys, their length field perhaps changed (so that fuzzing reaches the body
// check with any length), perhaps damaged at a chosen byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "image/FirmwareImage.h"
#include "support/LittleEndian.h"
#include "tests/TestSupport.h"
#include "tools/ImageSigner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const TempDir scratch;  // removed with its file when the fuzzer exits
    static const std::string scratchFile = scratch.path("image.enc");
    FuzzedDataProvider input(data, size);
    const bool anyBytes = input.ConsumeBool();
    const int type = input.ConsumeIntegralInRange<int>(1, 5);
    std::vector<uint8_t> file;
    bool expectIntact = false;
    if (anyBytes) {
        file = input.ConsumeRemainingBytes<uint8_t>();
    } else {
        ImageSpec spec;
        spec.overrideLength = input.ConsumeBool();
        spec.length = input.ConsumeIntegral<uint32_t>();
        const size_t damageAt = input.ConsumeIntegral<uint16_t>();
        const uint8_t damage = input.ConsumeIntegral<uint8_t>();
        const std::vector<uint8_t> body = input.ConsumeRemainingBytes<uint8_t>();
        file = makeFirmwareImage(developmentKey(type), body, spec);
        const bool damaged = damage != 0 && damageAt < file.size();
        if (damaged)
            file[damageAt] ^= damage;
        expectIntact = !damaged && (!spec.overrideLength || spec.length == body.size());
    }
    writeFileBytes(scratchFile, file);
    const FirmwareImageInfo info = examineFirmwareImage(scratchFile);
    if (expectIntact &&
        (info.verdict != FirmwareImageInfo::Verdict::Intact || info.deviceType != type)) {
        std::abort();  // a good image must pass, for its own product
    }
    if (info.verdict == FirmwareImageInfo::Verdict::Intact && info.length > file.size() - 128) {
        std::abort();  // never intact with fewer body bytes than its length
    }
    return 0;
}
