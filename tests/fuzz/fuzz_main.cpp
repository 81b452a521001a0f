// The libFuzzer entry for one target, chosen when the target is built.
#include <cstddef>
#include <cstdint>

#include <QCoreApplication>

#include "entries.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Image plug-ins are found through the application's library paths.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const tavlin::fuzz::Entry entry = tavlin::fuzz::entryFor(TAVLIN_FUZZ_TARGET);
    return entry(data, size);
}
