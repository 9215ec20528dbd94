// Every public header compiles on its own and the error table holds its 117 entries.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/codec/Inflate.h"
#include "engine/common/ByteIO.h"
#include "engine/common/arxGbls.h"
#include "engine/read/Err_Msgs.h"
#include "engine/read/arxUnZip.h"
#include "engine/write/arxZip.h"

namespace parcelix {
namespace {

TEST(ErrorTable, HoldsEveryCodeOnceWithItsText) {
  auto table = ErrorTable();
  EXPECT_EQ(table.size(), 117u);
  std::set<int> codes;
  for (const auto& e : table) EXPECT_TRUE(codes.insert(e.code).second) << e.code;
  EXPECT_STREQ(ErrorMessage(25115), "Bad offset to local header");
  EXPECT_STREQ(ErrorMessage(25101), "64 bit hearder");
  EXPECT_STREQ(ErrorMessage(25103), "Error loading unacev2.dll...");
  EXPECT_STREQ(ErrorMessage(25254), "Out of memory while expanding memory stream");
  EXPECT_STREQ(ErrorMessage(25268), ErrorMessage(26859));
  EXPECT_STREQ(ErrorMessage(25172), ErrorMessage(25179));
  EXPECT_STREQ(ErrorMessage(26899), "Directory does not exist... Create?");
  EXPECT_STREQ(ErrorMessage(12345), "");
  // The same codes as std::error_code: equal by category and value.
  const std::error_code ec = kErrCrcCheck;
  EXPECT_EQ(ec, EngineError(25151));
  EXPECT_NE(ec, std::error_code(25151, std::generic_category()));
  EXPECT_EQ(ec.message(), "File fails CRC check");
}

TEST(ByteReader, FailsStickilyOnShortInput) {
  const uint8_t bytes[] = {0x50, 0x4B, 0x03, 0x04, 0x14};
  ByteReader r(bytes);
  EXPECT_EQ(r.u32(), 0x04034B50u);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.u16(), 0u);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.u8(), 0u);
  EXPECT_FALSE(r.ok());
}

}  // namespace
}  // namespace parcelix
