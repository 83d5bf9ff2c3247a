#include "driver/banner.h"

#include "platform/console.h"
#include "text/wide_string.h"

namespace {

constexpr std::string_view kBorder = "****************************************************";
constexpr std::string_view kBlank = "*                                                  *";
// Rows 8 and 9 are the label, the address and spaces up to column 51.
constexpr std::string_view kWebSite = "* WebSite: https://lumentrace.example.org          *";
constexpr std::string_view kContact = "* Contact/Feed: feedback@lumentrace.example.org    *";

constexpr std::array<std::string_view, 11> kRows = {
    kBorder,
    kBlank,
    "*         Lumentrace converter by Orvando          *",
    kBlank,
    kBorder,
    kBlank,
    "* Support document encode: ANSI, UNICODE, UTF-8    *",
    kWebSite,
    kContact,
    kBlank,
    kBorder,
};

constexpr bool AllRowsFramed() {
  for (std::string_view row : kRows) {
    if (row.size() != kBannerWidth || row.front() != '*' || row.back() != '*') return false;
  }
  return true;
}
static_assert(AllRowsFramed(), "every banner row is 52 characters between '*' frames");

}  // namespace

const std::array<std::string_view, 11>& BannerRows() {
  return kRows;
}

void PrintBanner() {
  for (std::string_view row : kRows) {
    WideString line = FromAscii(row);
    line += u'\n';
    PrintToConsole(line);
  }
}
