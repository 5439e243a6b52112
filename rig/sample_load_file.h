// Sample resident load files for trying and measuring the loader without a real one.
#pragma once

#include <cstdint>
#include <string>

namespace corvane::rig {

// Byte i is i mod 251: a lost, doubled or shifted byte shows at once (251 does not divide
// the chunk size), and no byte is 0xFF.
std::string SampleLoadBytes(std::int64_t size);

// Writes istlfNN.dat of the given size into the folder; false with the reason on failure.
bool WriteSampleLoadFile(const std::string& programDir, int number, std::int64_t size,
                         std::string* path = nullptr, std::string* why = nullptr);

}  // namespace corvane::rig
