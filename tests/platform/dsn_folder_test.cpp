// Private files on POSIX. Where the file data source of a login goes: $TMPDIR as the user set it,
// else a folder nobody else can write (the runtime directory, or a private folder in the shared
// /tmp), never the shared folder itself. The key that protects the saved password: made once in
// the user's configuration folder, readable by the user only, never through a link.
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
#include "runtime/platform_services.h"

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

TEST(DataProtection, KeyMadeOnceForThisUserOnly) {
  Scratch config;
  const EnvVar xdg("XDG_CONFIG_HOME", (config.path() + "/c").c_str());
  const std::string folder = config.path() + "/c/tidewell";
  const std::string key = folder + "/data-protection.key";
  EXPECT_EQ(platform::UnprotectData("\x01 anything at all, and some more bytes"), std::nullopt);
  EXPECT_FALSE(fs::exists(key));  // reading makes no key
  const std::string secret = "Tidewell#1";
  const auto blob = platform::ProtectData(secret);
  ASSERT_TRUE(blob);
  EXPECT_EQ(blob->find(secret), std::string::npos);
  EXPECT_NE(platform::ProtectData(secret), blob);  // a fresh nonce every time
  EXPECT_EQ(platform::UnprotectData(*blob), secret);
  EXPECT_EQ(platform::UnprotectData(*platform::ProtectData("")), "");
  EXPECT_EQ(Lstat(folder).st_mode & 0777, 0700u);
  const struct stat st = Lstat(key);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 32);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
  for (std::size_t i : {std::size_t{0}, std::size_t{5}, blob->size() - 1}) {
    std::string damaged = *blob;
    damaged[i] = static_cast<char>(damaged[i] ^ 1);
    EXPECT_EQ(platform::UnprotectData(damaged), std::nullopt) << i;
  }
  EXPECT_EQ(platform::UnprotectData(blob->substr(0, blob->size() - 1)), std::nullopt);
  // Another user's (or machine's) key does not turn it back.
  const EnvVar other("XDG_CONFIG_HOME", (config.path() + "/other").c_str());
  ASSERT_TRUE(platform::ProtectData("x"));
  EXPECT_EQ(platform::UnprotectData(*blob), std::nullopt);
}

TEST(DataProtection, AKeyOthersCouldReadOrRedirectIsNotUsed) {
  Scratch config;
  const EnvVar xdg("XDG_CONFIG_HOME", config.path().c_str());
  const std::string folder = config.path() + "/tidewell";
  const std::string key = folder + "/data-protection.key";
  fs::create_directory(folder);
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
  // A link where the key goes: nothing is written through it.
  const std::string target = config.path() + "/elsewhere";
  fs::create_symlink(target, key);
  EXPECT_EQ(platform::ProtectData("pw"), std::nullopt);
  EXPECT_FALSE(fs::exists(target));
  fs::remove(key);
  const auto blob = platform::ProtectData("pw");
  ASSERT_TRUE(blob);
  fs::permissions(key, fs::perms::group_read, fs::perm_options::add);
  EXPECT_EQ(platform::ProtectData("pw"), std::nullopt);
  EXPECT_EQ(platform::UnprotectData(*blob), std::nullopt);
  fs::permissions(key, fs::perms::group_read, fs::perm_options::remove);
  EXPECT_EQ(platform::UnprotectData(*blob), "pw");
  // A folder others can write: the key in it could be swapped.
  fs::permissions(folder, fs::perms::others_write, fs::perm_options::add);
  EXPECT_EQ(platform::UnprotectData(*blob), std::nullopt);
}

}  // namespace
}  // namespace tw::odbc
