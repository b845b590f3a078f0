// Staged installs for whole-process tests: this build tree installed into a temporary directory, as a package build stages it.
#include "staged_install.h"

#include <filesystem>

#include "support/process.h"

namespace e2e {

using namespace support;

StagedInstall::StagedInstall() {
  std::error_code error;
  std::filesystem::permissions(directory_.Path(),
                               std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                   std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                   std::filesystem::perms::others_exec,
                               error);
  const Ended install =
      RunToEnd({PYROVANE_CMAKE, "--install", PYROVANE_BUILD_DIRECTORY, "--prefix", "/usr"}, {{"DESTDIR", Root()}});
  installed_ = !error && install.exitCode == 0;
  log_ = error ? "cannot open " + directory_.Path() + " to every user: " + error.message() : install.output;
}

} // namespace e2e
