#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tamlo::fuzz {

// One reader of outside bytes, run on one input. An entry point checks what must hold of what
// the reader accepted and aborts (with the broken rule on standard error) when it does not.
struct FuzzTarget {
    const char* name;  // also the folder of its corpus under tests/corpus
    int (*run)(const std::uint8_t* data, std::size_t size);
};

const std::vector<FuzzTarget>& fuzzTargets();
const FuzzTarget* findFuzzTarget(const char* name);

}  // namespace tamlo::fuzz
