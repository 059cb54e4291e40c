// Window kinds of the terminal, as modules name them.
#pragma once

#include <cstdint>

enum class WindowKind : std::int32_t {
    None = 0,  // unknown name: refused, never stored
    All = -1,
    Vista = 1,
    FullQuote = 2,
    OrderBook = 3,
    TimeSales = 4,
    News = 5,
    Chart = 6,
};

// Case-insensitive (ASCII) whole-name match; WindowKind::None for anything else, the empty name included.
WindowKind WindowKindFromName(const char* name) noexcept;
