// Answering the terminal's load-file request and sending the resident load file.
#pragma once

#include <QString>

namespace corvane {

class WHost;

void WaitForLoadFileRequest(WHost& w);
void loadresident(WHost& w);

// "istlfNN.dat" in the program's folder, with a single separator.
QString LoadFilePath(const QString& programDir, int request);
// "LOADING FILE nn BLOCK bb BYTE hhhh": block = chunks / 2 and byte = position, in upper-case
// hex cut to their last 2 and 4 digits.
QString LoaderStatus(int request, long long chunks, long long position);
// The two-digit file number of the status line and file name.
QString TwoDigits(int request);

}  // namespace corvane
