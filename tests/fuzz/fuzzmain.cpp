// The libFuzzer entry of one target (TAMLO_FUZZ_TARGET names it).
#include <QCoreApplication>
#include <cstdlib>

#include "fuzztargets.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const tamlo::fuzz::FuzzTarget* target = tamlo::fuzz::findFuzzTarget(TAMLO_FUZZ_TARGET);
    if (target == nullptr) {
        std::abort();
    }
    return target->run(data, size);
}
