// One program at a time on a printer port: the lock file per port base, who
// holds it, and that it is given back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "port/port_lock.h"
#include "support/game_images.h"

using namespace rombolt;

namespace {

TEST(PortLock, OneHolderPerPortNamedToTheNextAndFreeAgainOnRelease) {
    // Every user of the machine meets at the same lock file.
    const std::string path = PortLockPath(0x378);
    if (::access("/run/lock", W_OK) == 0) {
        EXPECT_EQ(path, "/run/lock/rombolt-port-0x378.lock");
    }
    EXPECT_NE(PortLockPath(0x278), path);

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

}  // namespace
