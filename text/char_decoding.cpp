#include "text/char_decoding.h"

#include <cstring>
#include <map>

namespace {

SystemConverterCalls systemCalls;

std::uint32_t AskSystemConverter(SystemConverter* converter, const unsigned char* bytes,
                                 size_t size) {
  if (systemCalls.ask == nullptr || converter == nullptr)
    return size == 1 && bytes[0] < 0x80 ? bytes[0] : kInvalid;
  return systemCalls.ask(converter, bytes, size);
}

SystemConverter* OpenSystemConverter(const std::string& codePage) {
  return systemCalls.open == nullptr ? nullptr : systemCalls.open(codePage);
}

bool IsContinuation(unsigned char b, unsigned char low = 0x80, unsigned char high = 0xBF) {
  return b >= low && b <= high;
}

// The system's answer as the tables keep it: a code point, kInvalid or
// kIncomplete, whatever else a converter (or the page's tables) says.
std::uint32_t AnswerFor(SystemConverter* converter, const unsigned char* bytes, size_t size) {
  const std::uint32_t answer = AskSystemConverter(converter, bytes, size);
  return answer <= 0x10FFFF || answer == kIncomplete ? answer : kInvalid;
}

void OpenConverter(CodePageDecoder& decoder) {
  SystemConverter* converter = OpenSystemConverter(decoder.codePage);
  if (converter == nullptr) converter = OpenSystemConverter("CP1252");
  decoder.converter = converter;
  for (unsigned b = 0; b < 256; ++b) {
    const unsigned char byte = static_cast<unsigned char>(b);
    decoder.single[b] = AnswerFor(converter, &byte, 1);
  }
}

std::array<std::uint32_t, 256>& PairTable(CodePageDecoder& decoder, unsigned char lead) {
  auto& table = decoder.pairs[lead];
  if (!table) {
    table = std::make_unique<std::array<std::uint32_t, 256>>();
    for (unsigned t = 0; t < 256; ++t) {
      const unsigned char bytes[2] = {lead, static_cast<unsigned char>(t)};
      (*table)[t] = AnswerFor(decoder.converter, bytes, 2);
    }
  }
  return *table;
}

// A decoder's answer as a plain unit (PlainCodePageUnits), or 0.
char16_t PlainUnit(std::uint32_t answer) {
  return answer >= 0x80 && answer < kEndOfInput ? static_cast<char16_t>(answer) : 0;
}

}  // namespace

PlainCodePageUnits& PlainUnitsOf(CodePageDecoder& decoder) {
  if (!decoder.plain) {
    if (decoder.single[0] == kNotAsked) OpenConverter(decoder);
    decoder.plain = std::make_unique<PlainCodePageUnits>();  // all 0: nothing filled yet
    for (unsigned b = 0x80; b < 256; ++b) decoder.plain->single[b] = PlainUnit(decoder.single[b]);
  }
  return *decoder.plain;
}

void FillPlainRow(CodePageDecoder& decoder, unsigned char lead) {
  PlainCodePageUnits& plain = PlainUnitsOf(decoder);
  plain.rowFilled[lead] = true;
  if (decoder.single[lead] != kIncomplete) return;  // no two-byte character begins with it
  const std::array<std::uint32_t, 256>& row = PairTable(decoder, lead);
  for (unsigned t = 0; t < 256; ++t) plain.pairs[size_t{lead} << 8 | t] = PlainUnit(row[t]);
}

DecodedChar DecodeUtf8(const unsigned char* p, size_t available) {
  const unsigned char b0 = p[0];
  if (b0 < 0x80) return {b0, 1};
  std::uint32_t need;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  char32_t value;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    value = b0 & 0x1Fu;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    value = b0 & 0x0Fu;
    if (b0 == 0xE0) low = 0xA0;   // no overlong forms
    if (b0 == 0xED) high = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    value = b0 & 0x07u;
    if (b0 == 0xF0) low = 0x90;   // no overlong forms
    if (b0 == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return {kReplacementChar, 1};
  }
  std::uint32_t used = 1;
  for (std::uint32_t i = 0; i < need; ++i) {
    // Only the second byte has the narrowed range; the rest are plain continuations.
    const bool ok =
        used < available && (i == 0 ? IsContinuation(p[used], low, high) : IsContinuation(p[used]));
    if (!ok) return {kReplacementChar, used};
    value = (value << 6) | (p[used] & 0x3Fu);
    ++used;
  }
  return {value, used};
}

size_t CheckUtf8(const unsigned char* p, size_t size, size_t from, size_t to) {
  size_t i = from;
  if (to > size) to = size;
  while (i < to) {
    // Runs of ASCII are the common case; check eight bytes at a time.
    while (i + 8 <= to) {
      std::uint64_t word;
      std::memcpy(&word, p + i, sizeof word);  // one load; byte order does not matter here
      if ((word & 0x8080808080808080ull) != 0) break;
      i += 8;
    }
    if (i >= to) break;
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    const DecodedChar c = DecodeUtf8(p + i, size - i);
    if (IsUtf8Error(p + i, c)) return kInvalidUtf8;
    i += c.length;
  }
  return i;
}

void UseSystemConverter(const SystemConverterCalls& calls) {
  systemCalls = calls;
}

CodePageDecoder::~CodePageDecoder() {
  if (converter != nullptr && systemCalls.close != nullptr) systemCalls.close(converter);
}

CodePageDecoder& CodePageDecoderFor(const std::string& codePage) {
  static std::map<std::string, std::unique_ptr<CodePageDecoder>> decoders;
  auto& slot = decoders[codePage];
  if (!slot) {
    slot = std::make_unique<CodePageDecoder>();
    slot->codePage = codePage;
    slot->utf8 = codePage == "UTF-8";
  }
  return *slot;
}

DecodedChar DecodeCodePage(CodePageDecoder& decoder, const unsigned char* p, size_t available) {
  const std::uint32_t first = decoder.single[p[0]];
  if (first != kIncomplete) {
    if (first <= 0x10FFFF) return {first, 1};
    if (first == kInvalid) return {kReplacementChar, 1};
    OpenConverter(decoder);  // kNotAsked: the first character this decoder sees
    return DecodeCodePage(decoder, p, available);
  }
  if (available < 2) return {kReplacementChar, 1};
  const std::uint32_t second = PairTable(decoder, p[0])[p[1]];
  if (second == kInvalid) return {kReplacementChar, 1};
  if (second != kIncomplete) return {second, 2};
  // Three- and four-byte characters (EUC-JP, GB18030) are rare: ask each time.
  for (size_t size = 3; size <= 4 && size <= available; ++size) {
    const std::uint32_t value = AnswerFor(decoder.converter, p, size);
    if (value == kInvalid) break;
    if (value != kIncomplete) return {value, static_cast<std::uint32_t>(size)};
  }
  return {kReplacementChar, 1};
}
