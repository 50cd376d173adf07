// The plug-in's code table against the two other places that state it: the
// Java ERRORID enum (whose ordinals cross the bridge) and the error table of
// the Java library's README.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "kq/ReturnCodes.h"
#include "tests/platform/test_support.h"

namespace {

std::string ReadSource(const std::string& relative) {
  return kq::testing::ReadBytes(std::string(KQ_SOURCE_DIR) + "/" + relative);
}

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

TEST(CodeTable, MatchesTheJavaEnum) {
  const std::string source = ReadSource("java/model/src/main/java/com/kq/KQCloudPluginInterface/ERRORID.java");
  const std::string body = source.substr(source.find("enum ERRORID"));
  // Each constant notes its ordinal and its code, "INVALID_ARGUMENT, // 3  -> 7": the code is checked for
  // every ordinal, those that only hold the numbering or share another's code included.
  std::vector<std::string> constants;
  const std::regex constant(R"(\n\s*([A-Z][A-Z0-9_]*)\s*[,;]\s*//\s*(\d+)\s*->\s*(\d+))");
  for (std::sregex_iterator it(body.begin(), body.end(), constant), end; it != end; ++it) {
    const int32_t ordinal = std::stoi((*it)[2]);
    EXPECT_EQ(ordinal, static_cast<int32_t>(constants.size())) << (*it)[1];
    EXPECT_EQ(kq::CodeOfOrdinal(ordinal), static_cast<uint32_t>(std::stoul((*it)[3]))) << (*it)[1];
    constants.push_back((*it)[1]);
  }
  ASSERT_EQ(constants.size(), std::size(kq::kCodeOfOrdinal)) << "the table must cover every ordinal";
  // Ordinals that share another's code carry a name of their own.
  const std::set<std::string> shared{"INVALID_CONFIGURATION"};
  for (size_t ordinal = 0; ordinal < constants.size(); ++ordinal) {
    const std::string& name = constants[ordinal];
    if (name.rfind("UNSPECIFIED_", 0) == 0 || shared.count(name) != 0) continue;
    EXPECT_EQ(NameOf(kq::CodeOfOrdinal(static_cast<int32_t>(ordinal))), name) << "ordinal " << ordinal;
  }
}

TEST(CodeTable, MatchesTheJavaLibraryReadme) {
  const std::string readme = ReadSource("java/azure/README.md");
  // | what | `NAME` (ordinal) | code |
  const std::regex row(R"(\|\s*`([A-Z_]+)` \((\d+)\)\s*\|\s*(\d+)\s*\|)");
  int rows = 0;
  for (std::sregex_iterator it(readme.begin(), readme.end(), row), end; it != end; ++it, ++rows) {
    const std::string name = (*it)[1];
    const int32_t ordinal = std::stoi((*it)[2]);
    const uint32_t code = static_cast<uint32_t>(std::stoul((*it)[3]));
    EXPECT_EQ(kq::CodeOfOrdinal(ordinal), code) << name;
    EXPECT_EQ(NameOf(code), name);
  }
  EXPECT_GE(rows, 20) << "the README's error table was not found";
}

}  // namespace
