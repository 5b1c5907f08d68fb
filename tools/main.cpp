// ostraloader-image: firmware images with development keys.
//   keygen KEY.pem                      a new 1024-bit key pair, e = 65537
//   keytable P1.pem .. P5.pem           a product key table for -DOSTRA_PRODUCT_KEYS
//   sign --key K.pem BODY OUT [...]     a signed, encrypted image of a plaintext body
//   inspect IMAGE                       what the loader sees in an image
#include <CLI/CLI.hpp>
#include <cstdio>
#include <ctime>

#include "image/FirmwareImage.h"
#include "support/Version.h"
#include "tools/ImageSigner.h"

namespace {
// The loader reads a build time as local wall-clock time: the default is the local clock's
// reading now, as seconds since 2000-01-01 00:00:00 on that clock.
uint32_t localNowSince2000() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return static_cast<uint32_t>(::timegm(&local) - 946684800);
}

// A whole decimal number from min to max, or a message naming the option.
uint64_t numberIn(const std::string& option, const std::string& text, uint64_t max) {
    uint64_t value = 0;
    bool ok = !text.empty() && text.size() <= 19;  // no overflow below 10^19
    for (char c : text) {
        ok = ok && c >= '0' && c <= '9';
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!ok || value > max) {
        throw SignerError{option + ": '" + text + "' is not a whole number from 0 to " +
                          std::to_string(max)};
    }
    return value;
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
// The sign command's numbers into the header's fields: values the header cannot hold are
// refused, never truncated.
void takeNumbers(const std::string& version, const std::string& time, const std::string& length,
                 ImageSpec& spec) {
    const size_t dot = version.find('.');
    spec.versionMajor = static_cast<uint8_t>(numberIn("--version", version.substr(0, dot), 255));
    spec.versionMinor = static_cast<uint8_t>(
        dot == std::string::npos ? 0 : numberIn("--version", version.substr(dot + 1), 255));
    spec.timestamp = time == "now" ? localNowSince2000()
                                   : static_cast<uint32_t>(numberIn("--time", time, 0xFFFFFFFFu));
    if (!length.empty()) {
        spec.overrideLength = true;
        spec.length = static_cast<uint32_t>(numberIn("--length", length, 0xFFFFFFFFu));
    }
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

    std::string key, body, out, version = "1.0", time = "now", length;
    ImageSpec spec;
    auto* sign = app.add_subcommand("sign", "Make a signed, encrypted image of a plaintext body");
    sign->add_option("--key", key, "Private key (productN.pem)")->required();
    sign->add_option("BODY", body, "Plaintext firmware body")->required();
    sign->add_option("OUT", out, "Image file to write")->required();
    sign->add_option("--version", version, "MAJOR.MINOR (default 1.0)");
    sign->add_option("--flags", spec.flags, "Release flags: bit 0 Beta, bit 1 Debug, ...");
    sign->add_option("--build", spec.build, "Build number");
    sign->add_option("--time", time,
                     "Build time: seconds since 2000-01-01 on the local clock, or now (default)");
    sign->add_option("--length", length, "Header length field (default: the body's length)");

    std::string image;
    auto* inspectCmd = app.add_subcommand("inspect", "Check an image as the loader does");
    inspectCmd->add_option("IMAGE", image, "Image file")->required();

    app.set_version_flag("--version", kOstraVersion);
    CLI11_PARSE(app, argc, argv);
    try {
        if (*keygen) {
            generateProductKey(keyOut);
        } else if (*keytable) {
            for (size_t i = 0; i < pems.size(); ++i) {
                std::printf("%s\n", productKeyTableLine(static_cast<int>(i + 1), pems[i]).c_str());
            }
        } else if (*sign) {
            takeNumbers(version, time, length, spec);
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
