// SPDX-License-Identifier: Apache-2.0
// Arithmetic on values from outside (the command line, files, the other process): the result
// only when it fits the type, never a wrapped or undefined one. Any thread; never blocks.
#pragma once
#include <optional>
#include <type_traits>

template <typename T>
std::optional<T> Checked_Add(T a, T b) {
    static_assert(std::is_integral_v<T>);
    T sum{};
    if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
    return sum;
}

template <typename T>
std::optional<T> Checked_Sub(T a, T b) {
    static_assert(std::is_integral_v<T>);
    T difference{};
    if (__builtin_sub_overflow(a, b, &difference)) return std::nullopt;
    return difference;
}
