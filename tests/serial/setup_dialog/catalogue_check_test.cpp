// The check a catalogue passes before glibc's gettext reads it: glibc trusts
// every offset, length and hash slot of a catalogue whose magic number and
// revision it knows, so the check refuses every file that would make it read
// outside the file, run past a string's end or probe its hash table for ever.
#include "serial/setup_dialog/catalogue_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// One message ("Port" -> "Порт") laid out as msgfmt does: the header, the
// table of originals, the table of translations, the hash table, the strings.
// Header words: 0 magic, 4 revision, 8 count, 12 originals, 16 translations,
// 20 hash size, 24 hash table.
std::string Catalogue(const std::vector<std::uint32_t>& hashSlots) {
  const std::string original = "Port", translation = "Порт";
  const std::uint32_t originals = 28, translations = originals + 8, hash = translations + 8;
  const auto strings = static_cast<std::uint32_t>(hash + 4 * hashSlots.size());
  const auto hashSize = static_cast<std::uint32_t>(hashSlots.size());
  std::vector<std::uint32_t> words = {0x950412de,
                                      0,
                                      1,
                                      originals,
                                      translations,
                                      hashSize,
                                      hash,
                                      static_cast<std::uint32_t>(original.size()),
                                      strings,
                                      static_cast<std::uint32_t>(translation.size()),
                                      static_cast<std::uint32_t>(strings + original.size() + 1)};
  words.insert(words.end(), hashSlots.begin(), hashSlots.end());
  std::string bytes(words.size() * 4, '\0');
  std::memcpy(bytes.data(), words.data(), bytes.size());
  return bytes + original + '\0' + translation + '\0';
}

void SetWord(std::string& bytes, size_t at, std::uint32_t value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);
}

struct CatalogueCase {
  const char* name;
  std::string bytes;
  bool safe;
};

void PrintTo(const CatalogueCase& c, std::ostream* out) { *out << c.name; }

CatalogueCase Changed(const char* name, std::string bytes, size_t at, std::uint32_t value) {
  SetWord(bytes, at, value);
  return {name, bytes, false};
}

std::string WithByte(std::string bytes, size_t at, char value) {
  bytes[at] = value;
  return bytes;
}

std::string Swapped(const std::string& bytes) {
  std::string swapped = bytes;
  for (size_t at = 0; at + 4 <= 28 + 4 * 4 + 4 * 3; at += 4) {
    for (int i = 0; i < 4; ++i) swapped[at + i] = bytes[at + 3 - i];
  }
  return swapped;
}

class CatalogueCheckTest : public ::testing::TestWithParam<CatalogueCase> {};

TEST_P(CatalogueCheckTest, AcceptsOnlyWhatGlibcReadsSafely) {
  EXPECT_EQ(IsSafeCatalogue(GetParam().bytes), GetParam().safe);
}

const std::string kGood = Catalogue({1, 0, 0});
const size_t kStrings = 28 + 16 + 12;  // where "Port\0Порт\0" begins in kGood

INSTANTIATE_TEST_SUITE_P(
    Catalogues, CatalogueCheckTest,
    ::testing::Values(
        CatalogueCase{"AsMsgfmtWritesIt", kGood, true},
        CatalogueCase{"InTheOtherByteOrder", Swapped(kGood), true},
        CatalogueCase{"WithoutAHashTable", Catalogue({}), true},
        CatalogueCase{"HashTableWithoutAnEmptySlot", Catalogue({1, 1, 1}), false},
        // Size 4: a text whose hash is odd probes slots 1 and 3 only.
        CatalogueCase{"HashSizeNotPrimeWithAnEmptySlotOutOfReach", Catalogue({0, 1, 0, 1}), false},
        CatalogueCase{"OriginalWithoutItsNul", WithByte(kGood, kStrings + 4, 'x'), false},
        CatalogueCase{"TranslationWithoutItsNul", WithByte(kGood, kStrings + 13, 'x'), false},
        Changed("TranslationPastTheEnd", kGood, 28 + 12, 0x7ffffff0),
        Changed("LengthPastTheEnd", kGood, 28 + 8, 0x7ffffff0),
        Changed("TablesPastTheEnd", kGood, 8, 0x10000000),
        Changed("HashTablePastTheEnd", kGood, 24, 0x7ffffff0),
        Changed("HashSlotBeyondTheMessages", kGood, 28 + 16, 2),
        Changed("UnknownRevision", kGood, 4, 0x20000),
        Changed("SystemDependentStrings", kGood, 4, 1),
        Changed("WrongMagicNumber", kGood, 0, 0x950412df),
        CatalogueCase{"ShorterThanItsHeader", kGood.substr(0, 27), false}),
    [](const ::testing::TestParamInfo<CatalogueCase>& c) { return c.param.name; });

}  // namespace
