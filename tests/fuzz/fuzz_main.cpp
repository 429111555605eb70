// The libFuzzer entry point of one target; FUZZ_TARGET names the target function (CMakeLists.txt).
#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FUZZ_TARGET(data, size);
}
