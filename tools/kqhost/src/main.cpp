// kqhost: a stand-in for the backup application.  It runs the Java VM in its
// own process, loads the storage plug-in by path and drives it through the
// host interface to back up, restore and check a folder tree.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "Commands.h"
#include "Console.h"
#include "HostOs.h"
#include "ObjectMeta.h"
#include "Rehydrate.h"
#include "Text.h"

#ifndef KQHOST_DEFAULT_PLUGIN
#define KQHOST_DEFAULT_PLUGIN ""
#endif
#ifndef KQHOST_DEFAULT_JAVA_LIB
#define KQHOST_DEFAULT_JAVA_LIB ""
#endif

namespace fs = std::filesystem;
using namespace kqhost;

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

fs::path DefaultInstallRoot() {
#ifdef _WIN32
  std::string base = Env("LOCALAPPDATA");
#else
  std::string base = Env("HOME");
#endif
  if (base.empty()) return fs::temp_directory_path() / "kqhost";
#ifdef _WIN32
  return fs::u8path(base) / "kqhost";
#else
  return fs::u8path(base) / ".kqhost";
#endif
}

std::vector<std::string> SplitWords(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "kqhost: back up and restore a folder tree through the KQ Azure storage plug-in.\n"
      "The connection string comes from --connection or AZURE_STORAGE_CONNECTION_STRING;\n"
      "left empty, the local Azurite development store is used."};
  app.require_subcommand(1);
  app.fallthrough();

  HostOptions options;
  std::string pluginPath = KQHOST_DEFAULT_PLUGIN, javaLib = KQHOST_DEFAULT_JAVA_LIB, installRoot, blockSize = "8M",
              jvmOptionsEnv;
  std::vector<std::string> jvmOptions;
  bool quiet = false;

  app.add_option("--plugin", pluginPath, "the plug-in library to load")
      ->envname("KQHOST_PLUGIN")
      ->capture_default_str();
  app.add_option("--java-lib", javaLib, "folder holding KQAzurePlugIn.jar and its dependency jars")
      ->envname("KQHOST_JAVA_LIB")
      ->capture_default_str();
  app.add_option("--install-root", installRoot,
                 "installation root handed to the plug-in; its log goes to <root>/Plugin/Azure/Log "
                 "(default ~/.kqhost)")
      ->envname("KQHOST_HOME");
  app.add_option("--connection", options.connection,
                 "Azure Storage connection string (prefer the environment variable: a command line is visible "
                 "to other users)")
      ->envname("AZURE_STORAGE_CONNECTION_STRING");
  app.add_option("--container", options.container,
                 "container to use (default: the connection string's Container item, else the library's kq-backup)")
      ->envname("KQHOST_CONTAINER");
  CLI::Option* blockSizeOption =
      app.add_option("--block-size", blockSize,
                     "bytes per plug-in call and per stored block, e.g. 4M (1K..256M; default: the connection "
                     "string's BlockSize item, else 8M)")
          ->capture_default_str();
  app.add_option("--java-home", options.javaHome, "Java installation whose VM runs the library (default: the build's)")
      ->envname("KQHOST_JAVA_HOME");
  app.add_option("--jvm-option", jvmOptions, "extra Java VM option, e.g. -Xmx1g (repeatable)");
  app.add_option("--threads", options.threads, "files transferred at once")
      ->check(CLI::Range(1u, 64u))
      ->capture_default_str();
  app.add_option("--small-threads", options.smallThreads,
                 "files of at most 1 MiB transferred at once, beside --threads larger ones; also deletions at once")
      ->check(CLI::Range(1u, 64u))
      ->capture_default_str();
  app.add_flag("-q,--quiet", quiet, "no progress line");

  std::string source, dest, prefix, listPrefix, removeName;
  bool longFormat = false, recursive = false;
  CommandFlags flags;
  CLI::App* backup = app.add_subcommand("backup", "copy every regular file under SRC into storage");
  backup->add_option("SRC", source, "folder to back up")->required();
  backup->add_option("--prefix", prefix, "object name prefix (a folder in the container)");
  backup->add_flag("--full", flags.full, "send every file, even those stored unchanged");
  backup->add_flag("--delete", flags.deleteMissing,
                   "delete kqhost's objects under --prefix whose files no longer exist (after a complete backup)");
  CLI::App* restore = app.add_subcommand("restore", "copy the objects under a prefix into DEST, checking each SHA-256");
  restore->add_option("DEST", dest, "folder to restore into (created if missing)")->required();
  restore->add_option("--prefix", prefix, "object name prefix to restore");
  restore->add_flag("--overwrite", flags.overwrite, "replace existing files (default: report and keep them)");
  restore->add_flag("--strict", flags.strict, "objects without kqhost metadata fail the run");
  bool rehydrate = false;
  restore->add_flag("--rehydrate", rehydrate, "only ask for archived objects under the prefix to come back online");
  CLI::App* verify = app.add_subcommand("verify", "read every object under a prefix and check size and SHA-256");
  verify->add_option("--prefix", prefix, "object name prefix to check");
  verify->add_flag("--strict", flags.strict, "objects without kqhost metadata fail the run");
  CLI::App* ls = app.add_subcommand("ls", "list objects whose names start with PREFIX");
  ls->add_option("PREFIX", listPrefix, "name prefix (default: all)");
  ls->add_flag("-l,--long", longFormat, "show size, modification time and SHA-256");
  CLI::App* rm = app.add_subcommand("rm", "delete an object");
  rm->add_option("NAME", removeName, "object name")->required();
  rm->add_flag("-r,--recursive", recursive, "delete every object under NAME/");
  CLI::App* info = app.add_subcommand("info", "account, containers, regions and sizes");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  }

  auto size = ParseSize(blockSize);
  if (!size || *size < kMinBlockSize || *size > kMaxBlockSize) {
    Console::Error("--block-size: '" + blockSize + "' is not a size between 1K and 256M");
    return kExitUsage;
  }
  options.blockSize = *size;
  if (!options.container.empty() && !CheckContainerName(options.container).empty()) {
    Console::Error("--container " + CheckContainerName(options.container));
    return kExitUsage;
  }
  // A connection string may carry Container= and BlockSize= itself.
  if (std::string conflict = ReconcileConnectionItems(&options, blockSizeOption->count() > 0); !conflict.empty()) {
    Console::Error(conflict);
    return kExitUsage;
  }
  if (pluginPath.empty() || javaLib.empty()) {
    Console::Error("--plugin and --java-lib are required (this build has no defaults)");
    return kExitUsage;
  }
  options.pluginPath = fs::u8path(pluginPath);
  options.javaLibDir = fs::u8path(javaLib);
  options.installRoot = installRoot.empty() ? DefaultInstallRoot() : fs::u8path(installRoot);
  options.jvmOptions = SplitWords(Env("KQHOST_JVM_OPTIONS"));
  options.jvmOptions.insert(options.jvmOptions.end(), jvmOptions.begin(), jvmOptions.end());
  options.showProgress = !quiet && StdoutIsTerminal();

  InstallInterruptHandler();
  if (*backup) return RunBackup(options, fs::u8path(source), prefix, flags);
  if (*restore && rehydrate) return RunRehydrate(options, prefix);
  if (*restore) return RunRestore(options, fs::u8path(dest), prefix, flags);
  if (*verify) return RunVerify(options, prefix, flags);
  if (*ls) return RunList(options, listPrefix, longFormat);
  if (*rm) return RunRemove(options, removeName, recursive);
  if (*info) return RunInfo(options);
  return kExitUsage;
}
