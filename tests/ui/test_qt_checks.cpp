// Qt Test's check macros inside gtest tests (support/qt_checks.h, put before
// every test source): a check that does not hold fails the test at its line,
// says what it checked and returns; the waiting ones handle events until
// their time-out; and every macro Qt Test defines is such a check, refused,
// or no check at all.
#include "support/test_env.h"

#include <gtest/gtest-spi.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QtTest/qtestaccessible.h>

#include <set>
#include <stdexcept>
#include <string>

namespace {

// What a check looks at; a timer sets flag and value later in some rows.
struct State {
    bool flag = false;
    int value = 1;
    QStringList list{"a", "b"};
    bool ranOn = false;  // the function went on past the check
};

struct Row {
    const char* name;
    void (*check)(State&);
    int setAfterMs;    // when the timer sets flag and value; -1: never
    const char* says;  // in the failure; nullptr: the check holds
    int waitsMs;       // how long a failing check waits first
};

const Row kRows[] = {
    {"QVERIFY", [](State& s) { QVERIFY(s.flag); s.ranOn = true; }, -1, "QVERIFY(s.flag): false", 0},
    {"QVERIFY2", [](State& s) { QVERIFY2(s.flag, "the reason"); s.ranOn = true; }, -1,
     "QVERIFY2(s.flag): false: the reason", 0},
    {"QCOMPARE", [](State& s) { QCOMPARE(s.value, 2); s.ranOn = true; }, -1,
     "QCOMPARE(s.value, 2): the values differ\n   Actual   (s.value): 1\n   Expected (2): 2", 0},
    {"QCOMPARE of lists", [](State& s) { QCOMPARE(s.list, (QStringList{"a", "c"})); s.ranOn = true; }, -1,
     "Actual   (s.list): {\"a\", \"b\"}\n   Expected ((QStringList{\"a\", \"c\"})): {\"a\", \"c\"}", 0},
    {"QCOMPARE of C strings by their text",
     [](State& s) {
         char text[] = "same";
         QCOMPARE(static_cast<const char*>(text), "same");
         s.ranOn = true;
     },
     -1, nullptr, 0},
    {"QCOMPARE of floating values, fuzzily", [](State& s) { QCOMPARE(0.1 + 0.2, 0.3); s.ranOn = true; }, -1, nullptr,
     0},
    {"QFAIL", [](State& s) { QFAIL("the reason"); s.ranOn = true; }, -1, "QFAIL: the reason", 0},
    {"QVERIFY_EXCEPTION_THROWN",
     [](State& s) {
         QVERIFY_EXCEPTION_THROWN(s.value = 3, std::runtime_error);
         s.ranOn = true;
     },
     -1, "QVERIFY_EXCEPTION_THROWN(s.value = 3, std::runtime_error)", 0},
    // The waits handle events: the timer's change arrives while they wait.
    {"QTRY_VERIFY", [](State& s) { QTRY_VERIFY(s.flag); s.ranOn = true; }, 1000, nullptr, 0},
    {"QTRY_VERIFY2", [](State& s) { QTRY_VERIFY2(s.flag, "the reason"); s.ranOn = true; }, 1000, nullptr, 0},
    {"QTRY_COMPARE", [](State& s) { QTRY_COMPARE(s.value, 2); s.ranOn = true; }, 1000, nullptr, 0},
    {"QTRY_VERIFY_WITH_TIMEOUT", [](State& s) { QTRY_VERIFY_WITH_TIMEOUT(s.flag, 300); s.ranOn = true; }, 5000,
     "QTRY_VERIFY_WITH_TIMEOUT(s.flag): false after 300 ms", 300},
    {"QTRY_VERIFY2_WITH_TIMEOUT",
     [](State& s) {
         QTRY_VERIFY2_WITH_TIMEOUT(s.flag, "the reason", 300);
         s.ranOn = true;
     },
     5000, "QTRY_VERIFY2_WITH_TIMEOUT(s.flag): false after 300 ms: the reason", 300},
    {"QTRY_COMPARE_WITH_TIMEOUT",
     [](State& s) {
         QTRY_COMPARE_WITH_TIMEOUT(s.value, 2, 300);
         s.ranOn = true;
     },
     5000,
     "QTRY_COMPARE_WITH_TIMEOUT(s.value, 2): the values differ after 300 ms\n   Actual   (s.value): 1\n"
     "   Expected (2): 2",
     300},
};

TEST(QtChecks, ACheckThatDoesNotHoldFailsTheTestAtItsLineSaysWhatItCheckedAndReturns) {
    for (const Row& row : kRows) {
        State s;
        QTimer later;
        later.setSingleShot(true);
        later.setTimerType(Qt::PreciseTimer);
        QObject::connect(&later, &QTimer::timeout, [&s] {
            s.flag = true;
            s.value = 2;
        });
        if (row.setAfterMs >= 0) later.start(row.setAfterMs);

        ::testing::TestPartResultArray results;
        QElapsedTimer clock;
        clock.start();
        {
            ::testing::ScopedFakeTestPartResultReporter catcher(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
            row.check(s);
        }
        const qint64 took = clock.elapsed();
        if (!row.says) {
            EXPECT_EQ((Vals{results.size(), s.ranOn}), (Vals{0, 1})) << row.name;
            continue;
        }
        ASSERT_EQ(results.size(), 1) << row.name;
        const ::testing::TestPartResult& failure = results.GetTestPartResult(0);
        EXPECT_TRUE(failure.fatally_failed()) << row.name;
        EXPECT_STREQ(failure.file_name(), __FILE__) << row.name;
        EXPECT_NE(std::string(failure.message()).find(row.says), std::string::npos)
            << row.name << " said: " << failure.message();
        EXPECT_FALSE(s.ranOn) << row.name;
        EXPECT_GE(took, row.waitsMs) << row.name;
    }
}

#define ZRV_TEXT(...) #__VA_ARGS__
#define ZRV_EXPANDED(...) ZRV_TEXT(__VA_ARGS__)

TEST(QtChecks, EveryMacroOfQtTestIsAGtestCheckRefusedOrNoCheck) {
    enum Kind { Check, Refused, Removed, NoCheck };
    struct Macro {
        const char* name;
        Kind kind;
        const char* expansion;  // as used in a test here
    };
    const Macro macros[] = {
        {"QVERIFY", Check, ZRV_EXPANDED(QVERIFY(c))},
        {"QVERIFY2", Check, ZRV_EXPANDED(QVERIFY2(c, "why"))},
        {"QCOMPARE", Check, ZRV_EXPANDED(QCOMPARE(a, b))},
        {"QFAIL", Check, ZRV_EXPANDED(QFAIL("why"))},
        {"QVERIFY_EXCEPTION_THROWN", Check, ZRV_EXPANDED(QVERIFY_EXCEPTION_THROWN(f(), E))},
        {"QVERIFY_EVENT", Check, ZRV_EXPANDED(QVERIFY_EVENT(e))},
        {"QTRY_VERIFY", Check, ZRV_EXPANDED(QTRY_VERIFY(c))},
        {"QTRY_VERIFY_WITH_TIMEOUT", Check, ZRV_EXPANDED(QTRY_VERIFY_WITH_TIMEOUT(c, 9))},
        {"QTRY_VERIFY2", Check, ZRV_EXPANDED(QTRY_VERIFY2(c, "why"))},
        {"QTRY_VERIFY2_WITH_TIMEOUT", Check, ZRV_EXPANDED(QTRY_VERIFY2_WITH_TIMEOUT(c, "why", 9))},
        {"QTRY_COMPARE", Check, ZRV_EXPANDED(QTRY_COMPARE(a, b))},
        {"QTRY_COMPARE_WITH_TIMEOUT", Check, ZRV_EXPANDED(QTRY_COMPARE_WITH_TIMEOUT(a, b, 9))},
        {"QSKIP", Refused, ZRV_EXPANDED(QSKIP("why"))},
        {"QEXPECT_FAIL", Refused, ZRV_EXPANDED(QEXPECT_FAIL("", "why", Abort))},
        {"QFETCH", Refused, ZRV_EXPANDED(QFETCH(int, n))},
        {"QFETCH_GLOBAL", Refused, ZRV_EXPANDED(QFETCH_GLOBAL(int, n))},
        {"QTEST", Refused, ZRV_EXPANDED(QTEST(a, "n"))},
        // Qt Test's insides, left out so that nothing builds on them.
        {"QTRY_LOOP_IMPL", Removed, ZRV_EXPANDED(QTRY_LOOP_IMPL(c, 9, 1))},
        {"QTRY_TIMEOUT_DEBUG_IMPL", Removed, ZRV_EXPANDED(QTRY_TIMEOUT_DEBUG_IMPL(c, 9, 1))},
        {"QTRY_IMPL", Removed, ZRV_EXPANDED(QTRY_IMPL(c, 9))},
        {"QSKIP_INTERNAL", Removed, ZRV_EXPANDED(QSKIP_INTERNAL("why"))},
        // A warning line, test data's place, a string printer, main()s for
        // Qt Test's runner and its own assertion, which stops the program.
        {"QWARN", NoCheck, ""},
        {"QFINDTESTDATA", NoCheck, ""},
        {"QEXTRACTTESTDATA", NoCheck, ""},
        {"QTEST_COMPARE_DECL", NoCheck, ""},
        {"QTEST_MAIN", NoCheck, ""},
        {"QTEST_MAIN_IMPL", NoCheck, ""},
        {"QTEST_APPLESS_MAIN", NoCheck, ""},
        {"QTEST_GUILESS_MAIN", NoCheck, ""},
        {"QTEST_ASSERT", NoCheck, ""},
        {"QTEST_ASSERT_X", NoCheck, ""},
    };
    std::set<std::string> known;
    for (const Macro& m : macros) {
        known.insert(m.name);
        const std::string text = m.expansion;
        switch (m.kind) {
        case Check:
            EXPECT_NE(text.find("::testing::"), std::string::npos) << m.name << " is " << text;
            break;
        case Refused:
            EXPECT_EQ(text.rfind("static_assert(false", 0), 0u) << m.name << " is " << text;
            break;
        case Removed:
            EXPECT_EQ(text.rfind(std::string(m.name) + "(", 0), 0u) << m.name << " is " << text;
            break;
        case NoCheck:
            break;
        }
    }

    // Every function-like macro in Qt Test's headers is in the table.
    const QDir headers(QStringLiteral(ZRV_QTTEST_HEADERS));
    const QRegularExpression define(QStringLiteral("^\\s*#\\s*define\\s+(Q[A-Z0-9_]*)\\("),
                                    QRegularExpression::MultilineOption);
    std::set<std::string> defined;
    const QStringList files = headers.entryList({QStringLiteral("*.h")}, QDir::Files);
    ASSERT_GE(files.size(), 10) << ZRV_QTTEST_HEADERS;
    for (const QString& name : files) {
        QFile f(headers.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
        auto it = define.globalMatch(QString::fromUtf8(f.readAll()));
        while (it.hasNext()) defined.insert(it.next().captured(1).toStdString());
    }
    EXPECT_EQ(defined, known);
}

}  // namespace
