// Force-included into every file of the web build (web/CMakeLists.txt): Debian's Emscripten 3.1.6
// ships a C++ library (libc++ 13) without std::bit_cast, which its compiler (clang 14) has as a
// builtin. Newer libraries have their own, and this header then adds nothing.
#pragma once

#include <bit>

#if defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 14000
namespace std {
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
    static_assert(sizeof(To) == sizeof(From), "bit_cast between types of different sizes");
    return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif
