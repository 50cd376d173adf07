// The plug-in's code table against the two other places that state it: the
// Java ERRORID enum (whose ordinals cross the bridge) and the error table of
// the Java library's README.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <set>
#include <string>
#include <tuple>

#include "kq/ReturnCodes.h"
#include "tests/platform/test_support.h"

namespace {

std::string NameOf(uint32_t code) {
  const kq::ReturnCodeInfo* info = kq::FindReturnCode(code);
  return info != nullptr ? info->name : "(no entry for " + std::to_string(code) + ")";
}

TEST(CodeTable, EveryCodeHasOneEntryAndNoOrdinalGivesThePluginsOwn) {
  std::set<uint32_t> codes;
  std::set<std::string> names;
  for (const kq::ReturnCodeInfo& info : kq::kReturnCodes) {
    EXPECT_TRUE(codes.insert(info.code).second) << "code " << info.code << " twice";
    EXPECT_TRUE(names.insert(info.name).second) << info.name << " twice";
  }
  for (int32_t ordinal = -1; ordinal <= 49; ++ordinal) {
    const uint32_t code = kq::CodeOfOrdinal(ordinal);
    EXPECT_NE(kq::FindReturnCode(code), nullptr) << "ordinal " << ordinal << " gives unnamed " << code;
    EXPECT_NE(code, KQ_BRIDGE_FAILURE) << ordinal;
    EXPECT_NE(code, KQ_ARRAY_NOT_MADE) << ordinal;
  }
  for (int32_t unknown : {INT32_MIN, -1, 49, INT32_MAX}) EXPECT_EQ(kq::CodeOfOrdinal(unknown), 23u) << unknown;
}

// Each place states a name, its ordinal and its code: the Java enum every
// ordinal in order, "INVALID_ARGUMENT, // 3  -> 7" (those that only hold the
// numbering or share another's code included), the README's error table in
// rows "| what | `NAME` (ordinal) | code |".
TEST(CodeTable, MatchesTheJavaEnumAndTheLibraryReadme) {
  const std::tuple<const char*, const char*, bool> places[] = {
      {"java/model/src/main/java/com/kq/KQCloudPluginInterface/ERRORID.java",
       R"(\n\s*([A-Z][A-Z0-9_]*)\s*[,;]\s*//\s*(\d+)\s*->\s*(\d+))", true},
      {"java/azure/README.md", R"(\|\s*`([A-Z_]+)` \((\d+)\)\s*\|\s*(\d+)\s*\|)", false},
  };
  // Ordinals that share another's code carry a name of their own.
  const std::set<std::string> shared{"INVALID_CONFIGURATION"};
  for (const auto& [file, pattern, everyOrdinal] : places) {
    SCOPED_TRACE(file);
    const std::string text = kq::testing::ReadBytes(std::string(KQ_SOURCE_DIR) + "/" + file);
    const std::regex row(pattern);
    int32_t rows = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), row), end; it != end; ++it, ++rows) {
      const std::string name = (*it)[1];
      const int32_t ordinal = std::stoi((*it)[2]);
      const uint32_t code = static_cast<uint32_t>(std::stoul((*it)[3]));
      EXPECT_TRUE(!everyOrdinal || ordinal == rows) << name << " is not ordinal " << rows;
      EXPECT_EQ(kq::CodeOfOrdinal(ordinal), code) << name;
      if (name.rfind("UNSPECIFIED_", 0) != 0 && shared.count(name) == 0) {
        EXPECT_EQ(NameOf(code), name);
      }
    }
    if (everyOrdinal) {
      EXPECT_EQ(rows, static_cast<int32_t>(std::size(kq::kCodeOfOrdinal))) << "the table must cover every ordinal";
    } else {
      EXPECT_GE(rows, 20) << "the README's error table was not found";
    }
  }
}

}  // namespace
