#include "station/ServiceOptions.h"

using S = ServiceSettings;

const SwitchOption kSwitchOptions[7] = {
    {&S::runAfter, "runAfterUpload", "--run", OptionPlace::Upload, true,
     "Start the firmware after the upload"},
    {&S::forceProduct, nullptr, "--force-product", OptionPlace::Upload, true,
     "Skip the product comparison; the bootloader judges"},
    {&S::allowDowngrade, "allowDowngrade", "--allow-downgrade", OptionPlace::Upload, true,
     "Upload an image older than the firmware loaded"},
    {&S::verify, "verify", "--verify", OptionPlace::Upload, true,
     "Read the flash back and compare it with the image"},
    {&S::trace, nullptr, "--trace", OptionPlace::Common, true,
     "Every frame in and out on standard error"},
    {&S::labels, "labels", "--labels", OptionPlace::Common, false,
     "Take each instrument's label before it is serviced (typed, or a barcode scanner's "
     "lines; watching: the next instrument plugged in gets the last one)"},
    {&S::repeatLabels, "repeatLabels", "--repeat-labels", OptionPlace::Common, false,
     "Service a label again that already passed in this batch"},
};

const NumberOption kNumberOptions[3] = {
    {&S::attempts, "attempts", "--attempts", 1, 99, 1,
     "Service an instrument again after a device or line failure, up to this many times in "
     "all (default 1)"},
    {&S::count, nullptr, "--count", 1, 1000000, 0, "With --watch: end after this many instruments"},
    {&S::quantity, "batch.quantity", "--quantity", 1, 1000000, 0,
     "The batch's target: the watch ends once this many have passed (earlier records of the "
     "batch count)"},
};

const TextOption kTextOptions[3] = {
    {&S::route, nullptr, "--route", true, "Route path to a routed instrument, e.g. 2.5"},
    {&S::batch, "batch.workOrder", "--batch", false, "The batch's work order, in every record"},
    {&S::operatorName, nullptr, "--operator", false, "Who runs the batch, in every record"},
};

std::string rangeText(const NumberOption& option) {
    return "a whole number from " + std::to_string(option.least) + " to " +
           std::to_string(option.most);
}
