// The libFuzzer entry point of one target; FUZZ_TARGET names the target function (CMakeLists.txt).
// The target is declared here rather than taken from its header, so that a target of the public
// library builds without the engine's headers.
#include <cstddef>
#include <cstdint>

int FUZZ_TARGET(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FUZZ_TARGET(data, size);
}
