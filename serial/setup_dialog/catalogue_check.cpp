#include "serial/setup_dialog/catalogue_check.h"

#include <cstdint>
#include <cstring>

namespace {

bool IsPrime(std::uint64_t n) {
  if (n < 2) return false;
  for (std::uint64_t d = 2; d * d <= n; ++d) {
    if (n % d == 0) return false;
  }
  return true;
}

}  // namespace

bool IsSafeCatalogue(std::string_view bytes) {
  const std::uint64_t size = bytes.size();
  if (size < 28) return false;
  const auto raw = [&](std::uint64_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
  };
  const bool swapped = raw(0) == 0xde120495u;
  if (raw(0) != 0x950412deu && !swapped) return false;
  // Every read below lies inside the file: offsets are checked before use.
  const auto word = [&](std::uint64_t at) -> std::uint64_t {
    return swapped ? __builtin_bswap32(raw(at)) : raw(at);
  };
  // Major revisions 0 and 1 are glibc's; a minor one adds tables of
  // system-dependent strings, which msgfmt writes only for <inttypes.h>
  // formats, and which this check does not follow.
  const std::uint64_t revision = word(4);
  if (revision >> 16 > 1 || (revision & 0xffff) != 0) return false;
  const std::uint64_t count = word(8), hashSize = word(20), hashTable = word(24);
  for (const std::uint64_t table : {word(12), word(16)}) {
    if (table + count * 8 > size) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint64_t end = word(table + 8 * i + 4) + word(table + 8 * i);
      if (end >= size || bytes[end] != '\0') return false;
    }
  }
  // glibc probes the table from the text's hash in steps of 1 to size - 2
  // slots and stops at an empty slot: only a prime size reaches every slot
  // from every start.
  if (hashSize <= 2) return true;
  if (hashTable + hashSize * 4 > size || !IsPrime(hashSize)) return false;
  bool emptySlot = false;
  for (std::uint64_t i = 0; i < hashSize; ++i) {
    const std::uint64_t slot = word(hashTable + 4 * i);
    if (slot > count) return false;
    emptySlot = emptySlot || slot == 0;
  }
  return emptySlot;
}
