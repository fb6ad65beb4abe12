// The classes that draw their states assert them after every transition in
// the Debug builds, the sanitizer build among them, where a broken state stops
// the test that broke it. A sanitizer build without its asserts would pass
// every test while checking nothing: it fails here instead.
#include <gtest/gtest.h>

#include "ServerDatabase.h"
#include "engine/PgConnection.h"
#include "engine/StateChecks.h"

using namespace zeplo;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizerBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitizerBuild = true;
#else
constexpr bool kSanitizerBuild = false;
#endif
#else
constexpr bool kSanitizerBuild = false;
#endif

#ifdef QT_NO_DEBUG
constexpr bool kDebugBuild = false;
#else
constexpr bool kDebugBuild = true;
#endif

} // namespace

TEST(StateChecks, AreOnInTheSanitizerBuildAndAsTheBuildTypeSays)
{
    if (kSanitizerBuild) {
        EXPECT_TRUE(stateChecksOn()) << "the sanitizer build asserts no state: it must be a Debug build";
    }
    EXPECT_EQ(stateChecksOn(), kDebugBuild) << "the engine was built otherwise than its tests";
}

// A COPY's data sent on a session that began no COPY would reach the server
// as garbage among its commands: the session's mode check stops it before
// anything is sent.
TEST(StateChecks, DataOfACopyOnASessionInNoCopyIsCaught)
{
    if (!stateChecksOn())
        GTEST_SKIP() << "this build asserts no state";
    ServerDatabase database;
    ASSERT_TRUE(database.ok());
    const QString uri = QString::fromStdString(database.uri());
    EXPECT_DEATH(
        {
            PgConnection c(uri);
            c.run(PgCommand(QStringLiteral("select 1")));
            c.copyData("1\tKniha\n");
        },
        "ASSERT.*mode_ == Mode::Copy");
}
