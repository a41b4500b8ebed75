// gearloft Windows end-to-end tests: the simulated game's executable as the system loads it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "wine_e2e/windows_game.h"

namespace gearloft::wine_e2e {
namespace {

uint64_t LittleEndian(const std::string& bytes, size_t at, size_t width) {
  uint64_t value = 0;
  for (size_t i = width; i-- > 0;) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// Threads the game starts without a size of their own (the worker among them) get the stack its image
// reserves: 1 MiB, as in a game built with MSVC's default, so stack-depth limits are tested at that size.
TEST(DevhostImageTest, ThreadsGetTheStackReserveOfAGameBuiltWithMsvcDefaults) {
  const std::string image = ReadWhole(GEARLOFT_DEVHOST_EXE);
  ASSERT_GE(image.size(), 0x40u);
  const size_t header = static_cast<size_t>(LittleEndian(image, 0x3c, 4));
  // The signature, the 20-byte file header, then the optional header: PE32+ keeps SizeOfStackReserve
  // at its byte 72.
  ASSERT_GE(image.size(), header + 24 + 80);
  ASSERT_EQ(image.substr(header, 4), std::string("PE\0\0", 4));
  ASSERT_EQ(LittleEndian(image, header + 24, 2), 0x20bu) << "not a PE32+ image";
  EXPECT_EQ(LittleEndian(image, header + 24 + 72, 8), 1048576u);
}

}  // namespace
}  // namespace gearloft::wine_e2e
