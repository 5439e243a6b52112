// Shared by the fuzz targets: a broken property aborts, so libFuzzer keeps the input as a
// finding and the corpus replay fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(cond)                                                                     \
    do {                                                                                     \
        if (!(cond)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)

namespace corvane::fuzz {

// The input as byte text; operator text is the same bytes read as UTF-8, so the targets also
// see letters beyond ASCII and bytes that are no UTF-8.
inline std::string BytesOf(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace corvane::fuzz
