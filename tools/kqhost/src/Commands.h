// The commands of kqhost.  Each returns the process exit status.
#ifndef KQHOST_COMMANDS_H_
#define KQHOST_COMMANDS_H_

#include <filesystem>
#include <string>

#include "Host.h"

namespace kqhost {

enum ExitStatus : int {
  kExitOk = 0,
  kExitFailed = 1,  // at least one file or object failed
  kExitUsage = 2,   // bad command line
  kExitSetup = 3,   // the VM, the plug-in or InitLibrary could not be brought up
  kExitInterrupted = 130,
};

// Choices of backup and restore beyond the folder and the prefix.
struct CommandFlags {
  bool full = false;           // backup: send every file, even those stored unchanged
  bool deleteMissing = false;  // backup: delete objects under the prefix whose files are gone
  bool overwrite = false;      // restore: replace existing local files
  bool strict = false;         // restore, verify: objects kqhost did not write fail the run
};

// The real thing: a Java VM, the plug-in library, InitLibrary.
std::unique_ptr<Host> StartRealHost(const HostOptions& options);

int RunBackup(const HostOptions& options, const std::filesystem::path& source, const std::string& prefix,
              const CommandFlags& flags = {}, const HostFactory& hosts = StartRealHost);
int RunRestore(const HostOptions& options, const std::filesystem::path& dest, const std::string& prefix,
               const CommandFlags& flags = {}, const HostFactory& hosts = StartRealHost);
int RunVerify(const HostOptions& options, const std::string& prefix, const CommandFlags& flags = {},
              const HostFactory& hosts = StartRealHost);
int RunList(const HostOptions& options, const std::string& prefix, bool longFormat,
            const HostFactory& hosts = StartRealHost);
int RunRemove(const HostOptions& options, const std::string& name, bool recursive,
              const HostFactory& hosts = StartRealHost);
int RunInfo(const HostOptions& options, const HostFactory& hosts = StartRealHost);

}  // namespace kqhost

#endif  // KQHOST_COMMANDS_H_
