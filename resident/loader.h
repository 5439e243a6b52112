// Answering the terminal's load-file request and sending the resident load file.
#pragma once

#include <asio/awaitable.hpp>
#include <string>

namespace corvane {

class Engine;

asio::awaitable<void> WaitForLoadFileRequest(Engine& e);
asio::awaitable<void> loadresident(Engine& e);

// "istlfNN.dat" in the program's folder, with a single separator.
std::string LoadFilePath(const std::string& programDir, int request);
// "LOADING FILE nn BLOCK bb BYTE hhhh": block = chunks / 2 and byte = position, in upper-case
// hex cut to their last 2 and 4 digits.
std::string LoaderStatus(int request, long long chunks, long long position);
// The two-digit file number of the status line and file name.
std::string TwoDigits(int request);

}  // namespace corvane
