#include "image/ProductKeys.h"

#include "image/ProductKeyTable.inc"  // generated from the key table file

const ProductKey* productKey(DeviceType type) {
    if (type < 1 || type > kDeviceTypeCount) {
        return nullptr;
    }
    return &kProductKeys[type - 1];
}

const char* productName(DeviceType type) {
    static const char* const kNames[] = {"Unknown device", "Solvar CU",  "Tamrik",
                                         "Solvar HS",      "Solvar HS3", "Tamrik 3"};
    return type <= kDeviceTypeCount ? kNames[type] : kNames[0];
}

const char* productKeyTableName() {
    return kProductKeyTableName;
}
