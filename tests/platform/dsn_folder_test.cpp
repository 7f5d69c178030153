// Where the file data source of a login goes on POSIX: $TMPDIR as the user set it, else a folder
// nobody else can write (the runtime directory, or a private folder in the shared /tmp), never
// the shared folder itself.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/posix/private_folder.h"
#include "runtime/odbc/odbc_platform.h"

namespace tw::odbc {
namespace {

namespace fs = std::filesystem;

// Sets or unsets an environment variable for one test and restores it afterwards.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvVar() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  EnvVar(const EnvVar&) = delete;
  EnvVar& operator=(const EnvVar&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class Scratch {
 public:
  Scratch() {
    std::string tmpl = (fs::temp_directory_path() / "tw-dsnfolder-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct stat Lstat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

std::string Cwd() {
  return fs::current_path().string() + "/";
}

const std::string kMine = "tidewell-" + std::to_string(::geteuid());
constexpr uid_t kNobody = 65534;

TEST(DsnFolder, TmpdirIsTheUsersChoice) {
  const EnvVar tmp("TMPDIR", "/var/tmp/tw-own");
  EXPECT_EQ(TempFolder(), "/var/tmp/tw-own/");
  const EnvVar slash("TMPDIR", "/var/tmp/tw-own/");
  EXPECT_EQ(TempFolder(), "/var/tmp/tw-own/");
}

TEST(DsnFolder, WithoutTmpdirNeverTheSharedTmpItself) {
  const EnvVar tmp("TMPDIR", nullptr);
  const EnvVar run("XDG_RUNTIME_DIR", nullptr);
  const Text folder = TempFolder();
  EXPECT_NE(folder, "/tmp/");
  ASSERT_EQ(folder, posix::PrivateFolderIn("/tmp") + "/");
  const struct stat st = Lstat(folder);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_uid, ::geteuid());
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // The file itself is then written there, private too.
  const Text dsn = folder + "~sqlsrv.dsn";
  ASSERT_TRUE(WriteDsnFile(dsn, "[ODBC]\r\n"));
  EXPECT_EQ(Lstat(dsn).st_mode & 0777, 0600u);
  EXPECT_TRUE(DeleteDsnFile(dsn));
}

TEST(DsnFolder, RuntimeDirectoryOnlyWhenItIsTheUsersOwnPrivateOne) {
  Scratch shared;
  Scratch run;
  const EnvVar tmp("TMPDIR", nullptr);
  fs::permissions(run.path(), fs::perms::owner_all, fs::perm_options::replace);
  {
    const EnvVar env("XDG_RUNTIME_DIR", run.path().c_str());
    EXPECT_EQ(posix::PrivateTempFolder(shared.path()), run.path() + "/");
    EXPECT_EQ(TempFolder(), run.path() + "/");
  }
  const std::string privateDir = shared.path() + "/" + kMine + "/";
  {
    const EnvVar env("XDG_RUNTIME_DIR", "relative/run");
    EXPECT_EQ(posix::PrivateTempFolder(shared.path()), privateDir);
  }
  fs::permissions(run.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read,
                  fs::perm_options::replace);
  {
    const EnvVar env("XDG_RUNTIME_DIR", run.path().c_str());
    EXPECT_EQ(posix::PrivateTempFolder(shared.path()), privateDir);
  }
  if (::geteuid() == 0) {  // only root can give a folder away
    fs::permissions(run.path(), fs::perms::owner_all, fs::perm_options::replace);
    ASSERT_EQ(::chown(run.path().c_str(), kNobody, kNobody), 0);
    const EnvVar env("XDG_RUNTIME_DIR", run.path().c_str());
    EXPECT_EQ(posix::PrivateTempFolder(shared.path()), privateDir);
  }
}

TEST(DsnFolder, SharedFolderGetsAPrivateFolderOfThisUser) {
  Scratch shared;
  fs::permissions(shared.path(), fs::perms::all | fs::perms::sticky_bit, fs::perm_options::replace);
  const std::string dir = shared.path() + "/" + kMine;
  ASSERT_EQ(posix::PrivateFolderIn(shared.path()), dir);
  struct stat st = Lstat(dir);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_uid, ::geteuid());
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(posix::PrivateFolderIn(shared.path()), dir);  // made once, then found
  // A folder of ours that was left more open is closed again.
  fs::permissions(dir, fs::perms::all, fs::perm_options::replace);
  EXPECT_EQ(posix::PrivateFolderIn(shared.path()), dir);
  EXPECT_EQ(Lstat(dir).st_mode & 0777, 0700u);
}

TEST(DsnFolder, WhatSomeoneElsePutThereFirstIsRefused) {
  Scratch shared;
  Scratch elsewhere;
  const EnvVar run("XDG_RUNTIME_DIR", nullptr);
  const std::string dir = shared.path() + "/" + kMine;
  // A link to a folder, even one of ours: whoever made the link decides where it points.
  fs::create_directory_symlink(elsewhere.path(), dir);
  EXPECT_EQ(posix::PrivateFolderIn(shared.path()), "");
  EXPECT_EQ(posix::PrivateTempFolder(shared.path()), Cwd());
  fs::remove(dir);
  // A file of that name.
  { std::ofstream(dir) << "x"; }
  EXPECT_EQ(posix::PrivateFolderIn(shared.path()), "");
  fs::remove(dir);
  if (::geteuid() == 0) {  // a folder owned by another user
    fs::create_directory(dir);
    fs::permissions(dir, fs::perms::all, fs::perm_options::replace);
    ASSERT_EQ(::chown(dir.c_str(), kNobody, kNobody), 0);
    EXPECT_EQ(posix::PrivateFolderIn(shared.path()), "");
    EXPECT_EQ(posix::PrivateTempFolder(shared.path()), Cwd());
    EXPECT_EQ(Lstat(dir).st_mode & 0777, 0777u);  // left as it was
  }
}

}  // namespace
}  // namespace tw::odbc
