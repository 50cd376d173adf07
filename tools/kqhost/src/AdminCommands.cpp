// The commands that look at or tidy the container: ls, rm, info.
#include <cstdio>
#include <ctime>

#include "CommandRun.h"
#include "Commands.h"
#include "ObjectMeta.h"
#include "Plugin.h"

namespace kqhost {

using detail::Count;
using detail::DeleteAll;
using detail::ListObjects;
using detail::StartHost;

namespace {

constexpr const char kNotEqual[] = "\xE2\x89\xA0";  // U+2260 in UTF-8

std::string FormatTime(int64_t ns) {
  std::time_t secs = static_cast<std::time_t>(ns / 1000000000LL - (ns % 1000000000LL < 0 ? 1 : 0));
  std::tm tm{};
  if (std::tm* p = std::gmtime(&secs)) tm = *p;
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

}  // namespace

int RunList(const HostOptions& options, const std::string& prefix, bool longFormat, const HostFactory& hosts) {
  auto host = StartHost(hosts, options, "ls");
  if (!host) return kExitSetup;
  std::vector<StoredObject> objects;
  if (!ListObjects(*host, "ls", prefix, &objects)) return kExitFailed;
  uint64_t total = 0;
  for (const auto& object : objects) {
    const std::string name = Printable(object.name);
    if (!longFormat) {
      Console::Out(name);
      continue;
    }
    // The size column is the object's real length when the listing has it, else what kqhost recorded.
    std::optional<uint64_t> size = object.length;
    if (!size && object.meta) size = object.meta->size;
    char column[24];
    if (object.folderMarker || !size)
      std::snprintf(column, sizeof column, "%14s", object.folderMarker ? "folder" : "?");
    else
      std::snprintf(column, sizeof column, "%14llu", static_cast<unsigned long long>(*size));
    if (size && !object.folderMarker) total += *size;
    if (object.meta) {
      std::string line = std::string(column) + "  " + FormatTime(object.meta->mtimeNs) + "  " +
                         object.meta->sha256.substr(0, 12) + "  " + name;
      if (*size != object.meta->size)
        line += std::string("  (size") + kNotEqual + "recorded " + std::to_string(object.meta->size) + ")";
      Console::Out(line);
    } else {
      Console::Out(std::string(column) + "  " + std::string(19, '?') + "  " + std::string(12, '?') + "  " + name +
                   (object.folderMarker ? "" : "  (" + object.metaProblem + ")"));
    }
  }
  if (longFormat) Console::Out(Count(objects.size(), "object") + ", " + FormatBytes(total));
  return kExitOk;
}

int RunRemove(const HostOptions& options, const std::string& name, bool recursive, const HostFactory& hosts) {
  auto host = StartHost(hosts, options, "rm");
  if (!host) return kExitSetup;
  std::vector<std::string> names;
  if (recursive) {
    std::vector<StoredObject> objects;
    if (!ListObjects(*host, "rm", NormalizePrefix(name), &objects)) return kExitFailed;
    for (const auto& object : objects) names.push_back(object.name);
  } else {
    names.push_back(name);
  }
  uint64_t deleted = 0;
  uint64_t failed = DeleteAll(host->store(), names, options.smallThreads, "rm", &deleted);
  if (recursive) Console::Out("rm: " + Count(deleted, "object") + " deleted");
  return failed == 0 && deleted == names.size() ? kExitOk : kExitFailed;
}

int RunInfo(const HostOptions& options, const HostFactory& hosts) {
  auto host = StartHost(hosts, options, "info");
  if (!host) return kExitSetup;
  ICloudPluginInterface* p = host->plugin();
  auto show = [](const char* label, uint32_t rc, const std::string& value) {
    std::string padded = std::string(label) + ":";
    padded.resize(18, ' ');
    Console::Out(padded + (rc == KQ_OK ? value : "unavailable (plug-in code " + DescribeCode(rc) + ")"));
  };
  uint32_t connectivity = p->CheckConnectivity();
  show("connectivity", connectivity, "ok");

  WString text;
  uint32_t rc = p->GetUniqueAccountName(&text);
  show("account", rc, WideToUtf8(text));
  text.clear();
  rc = p->GetOwnerName(&text);
  show("owner", rc, WideToUtf8(text));
  AccountInfoRecord account{};
  rc = p->GetAccountInfo(&account);
  show("account type", rc, WideToUtf8(account.accountType));
  text.clear();
  rc = p->GetContainerName(&text);
  show("container", rc, WideToUtf8(text));

  auto joined = [](const WStringList& list) {
    std::string out;
    for (const auto& item : list) out += (out.empty() ? "" : ", ") + WideToUtf8(item);
    return out.empty() ? std::string("(none)") : out;
  };
  WStringList containers;
  rc = p->GetListContainers(&containers);
  show("containers", rc, joined(containers));
  WStringList regions;
  rc = p->GetRegions(&regions);
  show("regions", rc, joined(regions));
  uint64_t used = 0;
  rc = p->GetAllObjectsSize(&used);
  show("stored bytes", rc, FormatBytes(used) + " (" + std::to_string(used) + " bytes)");
  uint64_t minSize = 0, defSize = 0, maxSize = 0;
  rc = p->GetDefaultObjectSizeRange(&minSize, &defSize, &maxSize);
  show("object sizes", rc,
       "min " + FormatBytes(minSize) + ", default " + FormatBytes(defSize) + ", max " + FormatBytes(maxSize));
  show("block size", KQ_OK, std::to_string(options.blockSize) + " bytes");
  return connectivity == KQ_OK ? kExitOk : kExitFailed;
}

}  // namespace kqhost
