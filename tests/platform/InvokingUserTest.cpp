// Who the program works for when run as root through sudo or pkexec.
#include "platform/CInvokingUser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace {

struct tagEnvCase {
    const char* name;
    const char* pkexecUid; // nullptr: unset
    const char* sudoUid;
    const char* sudoGid;
    bool found;
    uid_t uid;
    gid_t gid; // (gid_t)-1: the user's primary group
};

void PrintTo(const tagEnvCase& c, std::ostream* os) {
    *os << c.name;
}

class InvokingUser : public ::testing::TestWithParam<tagEnvCase> {
protected:
    void TearDown() override {
        for (const char* name : {"PKEXEC_UID", "SUDO_UID", "SUDO_GID"})
            ::unsetenv(name);
    }
    static void set(const char* name, const char* value) {
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
};

TEST_P(InvokingUser, FollowsPkexecThenSudo) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the invoking user is only looked up when running as root";
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody || nobody->pw_uid != 65534)
        GTEST_SKIP() << "no user nobody with uid 65534";
    const tagEnvCase& c = GetParam();
    set("PKEXEC_UID", c.pkexecUid);
    set("SUDO_UID", c.sudoUid);
    set("SUDO_GID", c.sudoGid);
    tagInvokingUser user;
    ASSERT_EQ(CInvokingUser::find(user), c.found);
    if (!c.found)
        return;
    EXPECT_EQ(user.uid, c.uid);
    EXPECT_EQ(user.gid, c.gid == gid_t(-1) ? nobody->pw_gid : c.gid);
    EXPECT_EQ(user.name, c.uid == 65534 ? "nobody" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InvokingUser,
    ::testing::Values(
        tagEnvCase{"none", nullptr, nullptr, nullptr, false, 0, 0},
        tagEnvCase{"pkexec", "65534", nullptr, nullptr, true, 65534, gid_t(-1)},
        tagEnvCase{"pkexec_before_sudo", "65534", "4242", "4243", true, 65534, gid_t(-1)},
        tagEnvCase{"sudo_with_its_group", nullptr, "65534", "100", true, 65534, 100},
        tagEnvCase{"sudo_user_not_in_passwd", nullptr, "4242", "4243", true, 4242, 4243},
        tagEnvCase{"pkexec_user_not_in_passwd", "4242", nullptr, nullptr, false, 0, 0},
        tagEnvCase{"root", "0", nullptr, nullptr, false, 0, 0},
        tagEnvCase{"not_a_number", nullptr, "12x", "100", false, 0, 0},
        tagEnvCase{"empty_pkexec_falls_to_sudo", "", "65534", "100", true, 65534, 100}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(InvokingUserAsUser, NoneWhenNotRoot) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "runs as root";
    ::setenv("SUDO_UID", "65534", 1);
    ::setenv("SUDO_GID", "65534", 1);
    tagInvokingUser user;
    EXPECT_FALSE(CInvokingUser::find(user));
    ::unsetenv("SUDO_UID");
    ::unsetenv("SUDO_GID");
}

} // namespace
