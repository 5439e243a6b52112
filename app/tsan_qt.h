// For a build with ThreadSanitizer only: Qt's own libraries are not built with it, so it sees
// neither their locks nor their atomics, and the work of Qt's own threads (the thread pool
// that loads fonts) looks racy. Interceptors called from inside them are left alone; our code
// is not. Included by each program's main, once.
#pragma once

#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n";
}
#endif
