// ostraloader-image: firmware images with development keys.
//   keygen KEY.pem                      a new 1024-bit key pair, e = 65537
//   keytable P1.pem .. P5.pem           a product key table for -DOSTRA_PRODUCT_KEYS
//   sign --key K.pem BODY OUT [...]     a signed, encrypted image of a plaintext body
//   inspect IMAGE                       what the loader sees in an image
#include <CLI/CLI.hpp>
#include <cstdio>
#include <ctime>

#include "image/FirmwareImage.h"
#include "support/CInteger.h"
#include "tools/ImageSigner.h"

namespace {
// Seconds since 2000-01-01 00:00:00 UTC, now.
uint32_t nowSince2000() {
    return static_cast<uint32_t>(std::time(nullptr) - 946684800);
}

int inspect(const std::string& path) {
    const FirmwareImageInfo info = examineFirmwareImage(path);
    std::printf("file:      %s\n", path.c_str());
    std::printf("verdict:   %s\n", info.verdictText());
    if (info.verdict != FirmwareImageInfo::Verdict::Intact) {
        return 3;
    }
    std::printf("product:   %s (device type %d)\n", productName(info.deviceType), info.deviceType);
    std::printf("version:   %d.%d %s\n", info.versionMajor, info.versionMinor,
                firmwareFlagsText(info.flags).c_str());
    std::printf("build:     %u\n", info.build);
    std::printf("built:     %s\n", formatCalendarTime(firmwareBuildTime(info.timestamp)).c_str());
    std::printf("length:    %u bytes\n", info.length);
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Firmware images with development keys (never for real instruments)"};
    app.require_subcommand(1);

    std::string keyOut;
    auto* keygen = app.add_subcommand("keygen", "Generate a 1024-bit product key pair (e = 65537)");
    keygen->add_option("KEY", keyOut, "PEM file to create")->required();

    std::vector<std::string> pems;
    auto* keytable = app.add_subcommand("keytable", "Print a product key table for five keys");
    keytable->add_option("KEYS", pems, "product1.pem .. product5.pem, in device type order")
        ->required()
        ->expected(5);

    std::string key, body, out, version = "1.0", time = "now";
    ImageSpec spec;
    long length = -1;
    auto* sign = app.add_subcommand("sign", "Make a signed, encrypted image of a plaintext body");
    sign->add_option("--key", key, "Private key (productN.pem)")->required();
    sign->add_option("BODY", body, "Plaintext firmware body")->required();
    sign->add_option("OUT", out, "Image file to write")->required();
    sign->add_option("--version", version, "MAJOR.MINOR (default 1.0)");
    sign->add_option("--flags", spec.flags, "Release flags: bit 0 Beta, bit 1 Debug, ...");
    sign->add_option("--build", spec.build, "Build number");
    sign->add_option("--time", time, "Build time: seconds since 2000-01-01, or now");
    sign->add_option("--length", length, "Header length field (default: the body's length)");

    std::string image;
    auto* inspectCmd = app.add_subcommand("inspect", "Check an image as the loader does");
    inspectCmd->add_option("IMAGE", image, "Image file")->required();

    CLI11_PARSE(app, argc, argv);
    try {
        if (*keygen) {
            generateProductKey(keyOut);
        } else if (*keytable) {
            for (size_t i = 0; i < pems.size(); ++i) {
                std::printf("%s\n", productKeyTableLine(static_cast<int>(i + 1), pems[i]).c_str());
            }
        } else if (*sign) {
            const size_t dot = version.find('.');
            spec.versionMajor = static_cast<uint8_t>(readCInteger(version.c_str()));
            spec.versionMinor = static_cast<uint8_t>(
                dot == std::string::npos ? 0 : readCInteger(version.c_str() + dot + 1));
            spec.timestamp =
                time == "now" ? nowSince2000() : static_cast<uint32_t>(readCInteger(time.c_str()));
            if (length >= 0) {
                spec.overrideLength = true;
                spec.length = static_cast<uint32_t>(length);
            }
            writeFileBytes(out, makeFirmwareImage(key, readFileBytes(body), spec));
        } else if (*inspectCmd) {
            return inspect(image);
        }
        return 0;
    } catch (const SignerError& e) {
        std::fprintf(stderr, "ostraloader-image: %s\n", e.message.c_str());
        return 1;
    }
}
