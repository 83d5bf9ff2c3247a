// Holds the vector loops of a build to the portable ones, call by call, on
// text made of the pieces that steer them: ASCII runs long enough for whole
// vectors, the bytes and units each loop stops at, UTF-8 characters whole,
// faulty and cut off, surrogates. The web test runs it in the page's build
// (under Node.js), where the loops are the SSE2 ones compiled to WebAssembly
// SIMD128, which the native tests never run. Prints what it checked; exits
// with 1 at the first difference, or when the build has no vector loops.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "convert/scan_kernels.h"
#include "convert/srt_kernels.h"

namespace {

std::mt19937 generator(20261209);

size_t Below(size_t n) {
  return static_cast<size_t>(generator() % n);
}

std::string Bytes() {
  static const char* const kAscii[] = {"a", "Z",      " ",  "<",  ">",  "&",    ";",
                                       "=", "&nbsp;", "\t", "\r", "\n", "\r\n", "\x7F"};
  // Two- and three-byte characters (Hangul), an overlong form, a surrogate,
  // U+FFFF, U+FFFD, characters cut off, stray continuation bytes, four
  // bytes, a byte no UTF-8 has.
  static const char* const kBeyond[] = {
      "\xC3\xA9",     "\xEA\xB0\x80", "\xE0\x80\x80",     "\xED\xA0\x80",
      "\xEF\xBF\xBF", "\xEF\xBF\xBD", "\xE4\xB8",         "\xE4",
      "\x80",         "\xBF\xBF",     "\xF0\x9F\x98\x80", "\xFF"};
  static const char kRun[] = "Caption text of an ordinary film, long enough for vectors.";
  std::string text;
  const size_t pieces = Below(24);
  for (size_t i = 0; i < pieces; ++i) {
    switch (Below(8)) {
      case 0:
      case 1:
      case 2:
        text.append(kRun, Below(sizeof kRun));
        break;
      case 3:
      case 4:
        text += kBeyond[Below(sizeof kBeyond / sizeof kBeyond[0])];
        break;
      case 5:
        text += '\0';
        break;
      default:
        text += kAscii[Below(sizeof kAscii / sizeof kAscii[0])];
    }
  }
  return text;
}

std::vector<char16_t> Units() {
  static const char16_t kPieces[] = {u'a',   u'<',   u'>',   u'&',   u';',   u'\r',  u'\n',
                                     0xFFFF, 0x00FF, 0x0080, 0x007F, 0x3C00, 0x0D00, 0x3E3C,
                                     0xAC00, 0x8000, 0xD800, 0xDC00, 0x0A00, 0xFEFF, 0};
  std::vector<char16_t> units;
  const size_t pieces = Below(24);
  for (size_t i = 0; i < pieces; ++i) {
    if (Below(3) == 0) {
      for (size_t k = Below(40); k > 0; --k) units.push_back(static_cast<char16_t>(u'a' + k % 26));
    } else if (Below(4) == 0) {
      units.push_back(0xD83D);  // a pair
      units.push_back(0xDE00);
    } else {
      units.push_back(kPieces[Below(sizeof kPieces / sizeof kPieces[0])]);
    }
  }
  return units;
}

// UTF-16LE whatever the machine's order.
std::string LittleEndian(const std::vector<char16_t>& units) {
  std::string bytes;
  for (char16_t u : units) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  return bytes;
}

const unsigned char* Data(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

bool Fail(const char* name, const char* what, size_t round) {
  std::printf("%s %s differs from the portable loop (round %zu)\n", name, what, round);
  return false;
}

bool CheckScan(const ScanKernels& k, size_t round) {
  const ScanKernels& p = PortableScanKernels();
  const std::string in = Bytes();
  for (const bool utf8 : {false, true}) {
    for (const size_t room : {in.size() + 16, 1 + Below(in.size() + 1)}) {
      std::vector<char16_t> a(room), b(room);
      size_t producedA = 0, producedB = 0;
      unsigned marksA = 0, marksB = 0;
      const size_t takenA =
          p.byteText(Data(in), in.size(), utf8, a.data(), room, producedA, marksA);
      const size_t takenB =
          k.byteText(Data(in), in.size(), utf8, b.data(), room, producedB, marksB);
      if (takenA != takenB || producedA != producedB || marksA != marksB ||
          !std::equal(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(producedA), b.begin()))
        return Fail(k.name, utf8 ? "byteText (UTF-8)" : "byteText", round);
    }
  }
  if (p.tagStop(Data(in), in.size()) != k.tagStop(Data(in), in.size()))
    return Fail(k.name, "tagStop", round);

  const std::vector<char16_t> units = Units();
  const std::string wide = LittleEndian(units);
  std::vector<char16_t> a(units.size() + 1), b(units.size() + 1);
  const size_t copiedA = p.utf16Text(Data(wide), units.size(), a.data());
  const size_t copiedB = k.utf16Text(Data(wide), units.size(), b.data());
  if (copiedA != copiedB ||
      !std::equal(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(copiedA), b.begin()))
    return Fail(k.name, "utf16Text", round);
  if (p.utf16TagStop(Data(wide), units.size()) != k.utf16TagStop(Data(wide), units.size()))
    return Fail(k.name, "utf16TagStop", round);
  return true;
}

bool CheckSrt(const SrtKernels& k, size_t round) {
  const SrtKernels& p = PortableSrtKernels();
  const std::vector<char16_t> units = Units();
  const size_t size = units.size();
  const auto same = [&](char* (*portable)(const char16_t*, size_t, char*),
                        char* (*vector)(const char16_t*, size_t, char*), size_t room) {
    std::vector<char> a(room), b(room);
    const auto endA = portable(units.data(), size, a.data()) - a.data();
    const auto endB = vector(units.data(), size, b.data()) - b.data();
    return endA == endB && std::equal(a.begin(), a.begin() + endA, b.begin());
  };
  if (!same(p.utf16Out, k.utf16Out, SrtUtf16Room(size))) return Fail(k.name, "utf16Out", round);
  if (!same(p.utf8Out, k.utf8Out, SrtUtf8Room(size))) return Fail(k.name, "utf8Out", round);
  char ascii[kSrtAsciiBlock];
  for (char& c : ascii) c = static_cast<char>(Below(0x80));
  char a[2 * kSrtAsciiBlock], b[2 * kSrtAsciiBlock];
  p.widenAscii(ascii, a);
  k.widenAscii(ascii, b);
  if (std::memcmp(a, b, sizeof a) != 0) return Fail(k.name, "widenAscii", round);
  return true;
}

}  // namespace

int main() {
  constexpr size_t kRounds = 20000;
  std::string names;
  for (const ScanKernels* const* k = VectorScanKernels(); *k != nullptr; ++k) {
    for (size_t round = 0; round < kRounds; ++round)
      if (!CheckScan(**k, round)) return 1;
    names += std::string(" scanner:") + (*k)->name;
  }
  for (const SrtKernels* const* k = VectorSrtKernels(); *k != nullptr; ++k) {
    for (size_t round = 0; round < kRounds; ++round)
      if (!CheckSrt(**k, round)) return 1;
    names += std::string(" writer:") + (*k)->name;
  }
  if (VectorScanKernels()[0] == nullptr || VectorSrtKernels()[0] == nullptr) {
    std::printf("this build lacks vector loops:%s\n", names.c_str());
    return 1;
  }
  std::printf("vector loops match the portable ones in %zu rounds:%s\n", kRounds, names.c_str());
  return 0;
}
