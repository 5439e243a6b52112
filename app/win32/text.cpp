#include "app/win32/text.h"

#include <algorithm>
#include <optional>

#include "app/win32/windows_api.h"

namespace corvane::win32 {

namespace {

// The conversion calls count in int: longer texts go through them in pieces.
constexpr std::size_t kPiece = std::size_t{1} << 24;

std::optional<std::wstring> FromUtf8(std::string_view text) {
    std::wstring wide;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t n = std::min(kPiece, text.size() - at);
        // Never between a character's lead byte and its continuation bytes.
        if (at + n < text.size()) {
            std::size_t back = n;
            while (back > 0 && (static_cast<unsigned char>(text[at + back]) & 0xC0) == 0x80 &&
                   n - back < 4)
                --back;
            if (back > 0) n = back;
        }
        const int size = static_cast<int>(n);
        const int units =
            MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data() + at, size, nullptr, 0);
        if (units <= 0) return std::nullopt;
        const std::size_t old = wide.size();
        wide.resize(old + static_cast<std::size_t>(units));
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data() + at, size,
                            wide.data() + old, units);
        at += n;
    }
    return wide;
}

}  // namespace

std::wstring Wide(std::string_view text) {
    if (std::optional<std::wstring> wide = FromUtf8(text)) return *wide;
    std::wstring bytes;
    bytes.reserve(text.size());
    for (unsigned char c : text) bytes.push_back(static_cast<wchar_t>(c));
    return bytes;
}

std::string Narrow(std::wstring_view text) {
    std::string narrow;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t n = std::min(kPiece, text.size() - at);
        // Never between the two halves of a surrogate pair.
        if (at + n < text.size() && text[at + n - 1] >= 0xD800 && text[at + n - 1] <= 0xDBFF) --n;
        const int units = static_cast<int>(n);
        const int bytes =
            WideCharToMultiByte(CP_UTF8, 0, text.data() + at, units, nullptr, 0, nullptr, nullptr);
        const std::size_t old = narrow.size();
        narrow.resize(old + static_cast<std::size_t>(std::max(bytes, 0)));
        if (bytes > 0)
            WideCharToMultiByte(CP_UTF8, 0, text.data() + at, units, narrow.data() + old, bytes,
                                nullptr, nullptr);
        at += n;
    }
    return narrow;
}

}  // namespace corvane::win32
