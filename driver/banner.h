// The start-up banner: eleven rows of 52 characters framed by '*'.
#ifndef LUMENTRACE_DRIVER_BANNER_H_
#define LUMENTRACE_DRIVER_BANNER_H_

#include <array>
#include <string_view>

constexpr int kBannerWidth = 52;

// The rows, without their line breaks.
const std::array<std::string_view, 11>& BannerRows();

// Prints the rows to standard output, each with its own write.
void PrintBanner();

#endif  // LUMENTRACE_DRIVER_BANNER_H_
