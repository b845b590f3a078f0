// Staged installs for whole-process tests: this build tree installed into a temporary directory, as a package build stages it.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "support/files.h"

namespace e2e {

// A `cmake --install` of this build tree with the prefix /usr into a fresh temporary directory
// (DESTDIR), as a package build stages it. The directory is opened to every user, so that a host
// run as an unprivileged user (xscreensaver refuses to run as root) can run what it holds.
class StagedInstall {
public:
  StagedInstall();
  bool Installed() const { return installed_; }
  // What the install printed, to tell why it failed.
  const std::string& Log() const { return log_; }
  // The staged root, and a path under it such as "usr/bin/pyrovane".
  std::string Root() const { return directory_.File("root"); }
  std::string Staged(const std::string& relative) const { return Root() + "/" + relative; }
  // A path beside the root, for a test's own files.
  std::string WorkFile(const std::string& name) const { return directory_.File(name); }

private:
  support::TemporaryDirectory directory_;
  bool installed_ = false;
  std::string log_;
};

// A fixture whose tests share one staged install, made before the first of them runs.
class StagedInstallTest : public testing::Test {
protected:
  static void SetUpTestSuite() { stage_ = new StagedInstall; }
  static void TearDownTestSuite() {
    delete stage_;
    stage_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(stage_->Installed()) << stage_->Log(); }

  static std::string Root() { return stage_->Root(); }
  static std::string Staged(const std::string& relative) { return stage_->Staged(relative); }
  static std::string WorkFile(const std::string& name) { return stage_->WorkFile(name); }

private:
  static inline StagedInstall* stage_ = nullptr;
};

} // namespace e2e
