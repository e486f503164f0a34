// One program at a time on a printer port: the lock file per port base, who
// holds it, and that it is given back.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "port/port_lock.h"
#include "support/game_images.h"

using namespace rombolt;

namespace {

TEST(PortLock, OneHolderPerPortNamedToTheNextAndFreeAgainOnRelease) {
    // Every user of the machine meets at the same name, which no file stands for.
    EXPECT_EQ(PortLockPath(0x378), "@rombolt-port-0x378");
    EXPECT_NE(PortLockPath(0x278), PortLockPath(0x378));

    test::TempDir dir("lock");
    const std::string file = (dir.path() / "port.lock").string();
    PortLock first, second;
    std::string why;
    ASSERT_TRUE(first.Acquire(file, why)) << why;
    EXPECT_FALSE(second.Acquire(file, why));
    std::string program;
    std::getline(std::ifstream("/proc/self/comm"), program);
    EXPECT_EQ(why, "in use by " + program + " (pid " + std::to_string(::getpid()) + ")");

    first.Release();
    EXPECT_TRUE(second.Acquire(file, why)) << why;
    EXPECT_FALSE(first.Acquire(file, why));
    // A lock that cannot be taken says why.
    PortLock nowhere;
    EXPECT_FALSE(nowhere.Acquire((dir.path() / "no" / "such.lock").string(), why));
    EXPECT_NE(why.find("No such file or directory"), std::string::npos) << why;
}

TEST(PortLock, APortIsLockedAgainstEveryUserAndNoFileCanBlockIt) {
    // A base no other test uses at the same time.
    const std::string name = PortLockPath(0x8000 + (::getpid() % 0x700) * 8);
    PortLock held;
    std::string why;
    ASSERT_TRUE(held.Acquire(name, why)) << why;
    // Another user's program is refused while it is held, and gets it once it is given back.
    auto otherUserTakes = [&] {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::getuid() == 0 && ::setuid(65534) != 0) ::_exit(3);
            PortLock mine;
            std::string w;
            ::_exit(mine.Acquire(name, w) ? 0 : 1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(otherUserTakes(), 1);
    PortLock second;
    EXPECT_FALSE(second.Acquire(name, why));
    EXPECT_NE(why.find("in use by "), std::string::npos) << why;
    held.Release();
    EXPECT_EQ(otherUserTakes(), 0);
    // No file in any folder stands for the lock: nothing can be made first there.
    EXPECT_FALSE(std::filesystem::exists("/run/lock/" + name.substr(1) + ".lock"));
    EXPECT_TRUE(second.Acquire(name, why)) << why;
}

}  // namespace
