// The account and container operations as the host calls them, shared by the
// program with the scripted library and the one with the broken library.
#ifndef KQ_TESTS_ACCOUNT_ACCOUNT_TEST_H_
#define KQ_TESTS_ACCOUNT_ACCOUNT_TEST_H_

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "bridge/JniHelpers.h"
#include "tests/support/Script.h"
#include "tests/support/TestJvm.h"

namespace kq {
namespace test {

// Every output an operation could write, preset so that a write shows.
struct Outputs {
  WString text = u"host";
  WStringList list{u"kept"};
  uint32_t flag = 7;
  uint64_t size = 5;
  AccountInfoRecord info{-9, u"a", u"b", u"c", u"d", 2, 3};
  bool absent = false;  // the host passes null pointers instead
  template <typename T> T* At(T& output) { return absent ? nullptr : &output; }
};

// The outputs that differ from their preset: " text=key:A flag=1".
inline std::string Changes(const Outputs& o) {
  const Outputs preset;
  std::string out;
  if (o.text != preset.text) out += " text=" + U8(o.text);
  if (o.list != preset.list) out += " list=" + Show(o.list);
  if (o.flag != preset.flag) out += " flag=" + std::to_string(o.flag);
  if (o.size != preset.size) out += " size=" + std::to_string(o.size);
  if (Show(o.info) != Show(preset.info)) out += " info=" + Show(o.info);
  return out;
}

// One row an operation; the lines and the record's fields are written "a\nb".
struct Operation {
  const char* name;
  std::function<uint32_t(ICloudPluginInterface&, Outputs&)> call;
  std::string journal;   // the library's record of the call: "Method/arity(args)"
  const char* lines;     // written around the Java call
  const char* changes;   // on the library's default answer
  const char* answer;    // a record's fields besides errorValue: nulls, extreme values
  const char* answered;  // after reading that record twice into the same outputs
  uint32_t nullCode;     // when the method answers null or throws
  const char* nullChanges;
  const char* missingLine;  // the operation's own line when the method is missing
};

// The signature the bridge looks up the library's method of a scripted key
// ("Method/arity") with, from its own list of lookups; "" if none.  The test
// library keys the many-handle delete "DeleteObjectByHandles".
inline const std::regex kParameter("\\[*(L[^;]*;|.)");
inline std::string BridgeSignature(const std::string& key) {
  const bool many = key.rfind("DeleteObjectByHandles/", 0) == 0;
  const std::string method = key.substr(0, key.find('/') - (many ? 1 : 0)), arity = key.substr(key.find('/') + 1);
  for (const jni::KeptLookup* lookup = jni::KeptLookup::First(); lookup != nullptr; lookup = lookup->Next()) {
    for (const jni::Member& m : *lookup) {
      const std::string sig = m.signature;  // each parameter type to one letter, to count them
      const std::string params = std::regex_replace(sig.substr(1, sig.find(')') - 1), kParameter, "x");
      if (lookup->className() == nullptr && method == m.name && std::to_string(params.size()) == arity &&
          (sig.rfind("([", 0) == 0) == many)
        return sig;
    }
  }
  return "";
}

// The scripted library's key ("Method/arity") and the result class ("" for a
// bare CErrorValue).
inline std::string Key(const Operation& op) { return op.journal.substr(0, op.journal.find('(')); }
inline std::string ResultClass(const Operation& op) {
  const std::string signature = BridgeSignature(Key(op));
  const std::string cls = signature.substr(signature.rfind('/') + 1);
  return cls == "CErrorValue;" ? "" : cls.substr(0, cls.size() - 1);
}

inline const std::vector<Operation>& Operations() {
  using P = ICloudPluginInterface;
  using O = Outputs;
  // The record's values reach Java bit for bit as third, fourth, first, second, sixth, fifth.
  static const JobInfoRecord job{1ull << 63, ~0ull, 0, 1, 2, 3};
  static const std::vector<Operation> ops = {
      {"GetKQCloudStorageKey", [](P& p, O& o) { return p.GetKQCloudStorageKey(u"A", u"B", o.At(o.text)); },
       "getStorageKey/2(\"A\", \"B\")", "GetKQCloudStorageKey::Java called ...A\nGetKQCloudStorageKey::Java ended ...A",
       " text=key:A", "value=null", "", 40, " text=", ""},
      {"GetContainerName", [](P& p, O& o) { return p.GetContainerName(o.At(o.text)); }, "GetContainerName/0()",
       "GetContainerName::Java called ...\nGetContainerName::Java ended ...", " text=container", "accountName=null",
       " text=", 40, "", ""},
      {"DeleteContainerFromKQCloud", [](P& p, O&) { return p.DeleteContainerFromKQCloud(); }, "DeleteContainer/0()",
       "DeleteContainerFromKQCloud::Java called ...\nDeleteContainerFromKQCloud::Java ended ...", "", "", "", 40, "",
       ""},
      {"AddJobInfo", [](P& p, O&) { return p.AddJobInfo(job); },
       "addJobInfo/6(0, 1, 9223372036854775808, 18446744073709551615, 3, 2)", "AddJobInfo::Java ended ...", "", "", "",
       40, "", "AddJobInfo::method is not found..."},
      {"CheckConnectivity", [](P& p, O&) { return p.CheckConnectivity(); }, "CheckConnectivity/0()", "", "", "", "", 40,
       "", ""},
      {"GetAllObjectsSize", [](P& p, O& o) { return p.GetAllObjectsSize(o.At(o.size)); }, "GetAllObjectsSize/0()", "",
       " size=0", "size=j:9223372036854775809", " size=9223372036854775809", 40, "", ""},
      {"GetUniqueAccountName", [](P& p, O& o) { return p.GetUniqueAccountName(o.At(o.text)); },
       "GetUniqueAccountName/0()", "", " text=account", "accountName=null", " text=", 40, "", ""},
      {"GetOwnerName", [](P& p, O& o) { return p.GetOwnerName(o.At(o.text)); }, "GetOwnerName/0()", "", " text=owner",
       "accountName=null", " text=", 40, "", ""},
      {"IsSameAccount", [](P& p, O& o) { return p.IsSameAccount(u"A", u"B", o.At(o.flag)); },
       "IsSameAccount/2(\"A\", \"B\")", "", " flag=1", "", "", 0, " flag=0", ""},
      {"GetListContainers", [](P& p, O& o) { return p.GetListContainers(o.At(o.list)); }, "GetListContainers/0()", "",
       "", "containers=ct:a|<null>|<nullname>|b", " list=kept,a,b,a,b", 0, "", ""},
      {"GetRegions", [](P& p, O& o) { return p.GetRegions(o.At(o.list)); }, "GetRegions/0()", "", "",
       "regionsList=sa:east|<null>|west", " list=kept,east,west,east,west", 0, "",
       "GET_LIST_REGIONS_NAME::method is not found..."},
      {"GetArchiveSet", [](P& p, O& o) { return p.GetArchiveSet(o.At(o.list)); }, "GetArchiveSet/0()", "", "",
       "containers=ct:<nullname>|s1|<null>|s2", " list=kept,s1,s2,s1,s2", 0, "", ""},
      {"IsValidContainer", [](P& p, O& o) { return p.IsValidContainer(u"box", o.At(o.flag)); },
       "IsValidContainer/1(\"box\")", "", " flag=1", "", "", 0, " flag=0", "IS_VALIDCONTAINER_NAME is failed..."},
      {"GetAccountInfo", [](P& p, O& o) { return p.GetAccountInfo(o.At(o.info)); }, "GetAccountInfo/0()", "",
       " info=-9,id,type,name,mail,1,2", "accountIndentity=s:id\nusedSizeInByteTotal=j:18446744073709551615",
       " info=-9,id,b,c,d,18446744073709551615,0", 0, "", "GET_ACCOUNT_INFO_NAME::method is not found..."},
      {"GetMachineNameList", [](P& p, O& o) { return p.GetMachineNameList(o.At(o.list)); }, "getServerNameList/0()", "",
       "", "arrayOfString=sa:m1|<null>|<empty>|m2", " list=kept,m1,,m2,m1,,m2", 0, "",
       "GET_MACHINE_NAME_LIST_NAME::method is not found..."},
      {"CanBackup", [](P& p, O& o) { return p.CanBackup(o.At(o.flag)); }, "canBackup/0()", "", " flag=1", "value=i:-1",
       " flag=4294967295", 0, "", "CANBACKUP_NAME::method is not found..."},
      {"UpdateStorageKey", [](P& p, O& o) { return p.UpdateStorageKey(o.At(o.text)); }, "updateStorageKey/0()", "",
       " text=key", "value=null", "", 0, "", "UPDATE_STORAGE_KEY_NAME::method is not found..."},
  };
  return ops;
}

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_ACCOUNT_ACCOUNT_TEST_H_
