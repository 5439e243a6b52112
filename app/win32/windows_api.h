// The Windows API for the window's files: Winsock's header first, as Asio needs it before
// <windows.h> has brought in the old one, then the common controls and the shell.
#pragma once

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
// clang-format on
