// The password command: its output with the final newline cut is the
// secret; it runs without a shell unless it starts with "sh -c"; a failure,
// a time-out, an empty output or a missing program is one clear line that
// names what happened and never the output.
#include "app/core/password_command.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TPasswordCommandResult RunCommand(const QString& command, int limitMs = 10000)
{
    TPasswordCommand runner;
    runner.LimitMs = limitMs;
    int calls = 0;
    TPasswordCommandResult result;
    runner.OnDone = [&](const TPasswordCommandResult& r) {
        ++calls;
        result = r;
    };
    runner.Start(command);
    EXPECT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, 20000)) << command.toStdString();
    QTest::qWait(50);
    EXPECT_EQ(calls, 1) << command.toStdString();
    return result;
}

TEST(PasswordCommandTest, OutputsFailuresAndLimits)
{
    struct Case {
        QString command;
        bool ok;
        std::string secret;
        QString failure;  // a part of the failure line
    };
    const Case cases[] = {
        {QStringLiteral("printf s3cret"), true, "s3cret", {}},
        {QStringLiteral("printf 'pass word\\n'"), true, "pass word", {}},
        {QStringLiteral("printf '  spaced  \\r\\n'"), true, "  spaced  ", {}},
        {QStringLiteral("printf 'two\\n\\n'"), true, "two\n", {}},
        // No shell: the variable reaches printf as it was typed.
        {QStringLiteral("printf '$HOME|'"), true, "$HOME|", {}},
        {QStringLiteral("sh -c 'printf pipe | tr p P'"), true, "PiPe", {}},
        {QStringLiteral("printf \"a \\\"quoted\\\" \"word\\ s"), true, "a \"quoted\" word s", {}},
        {QStringLiteral("sh -c 'echo the vault is closed >&2; exit 3'"), false, {},
         QStringLiteral("(sh) ended with exit status 3 (it said: the vault is closed)")},
        {QStringLiteral("true"), false, {}, QStringLiteral("printed no password")},
        {QStringLiteral("/nonexistent/pass-tool show"), false, {}, QStringLiteral("could not be started")},
        {QStringLiteral("   "), false, {}, QStringLiteral("The password command is empty")},
        {QStringLiteral("sh -c 'kill -9 $$'"), false, {}, QStringLiteral("was killed")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command.toStdString());
        const TPasswordCommandResult result = RunCommand(c.command);
        EXPECT_EQ(result.Ok, c.ok) << result.Failure.toStdString();
        EXPECT_EQ(result.Secret, c.secret);
        EXPECT_TRUE(result.Failure.contains(c.failure)) << result.Failure.toStdString();
        if (!c.ok) {
            EXPECT_TRUE(result.Failure.contains(QStringLiteral("nothing was sent to the server")));
        }
    }

    // A command past its limit is stopped then, not when it would have ended.
    QElapsedTimer clock;
    clock.start();
    const TPasswordCommandResult slow = RunCommand(QStringLiteral("sleep 20"), 300);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_FALSE(slow.Ok);
    EXPECT_TRUE(slow.Failure.contains(QStringLiteral("did not finish within 0.3 seconds"))) << slow.Failure.toStdString();

    // More output than any password is refused, whole.
    const TPasswordCommandResult flood = RunCommand(QStringLiteral("head -c 1000000 /dev/zero"));
    EXPECT_FALSE(flood.Ok);
    EXPECT_TRUE(flood.Secret.empty());
}

}  // namespace
