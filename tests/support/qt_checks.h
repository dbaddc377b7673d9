#pragma once
// Qt Test's check macros (QVERIFY, QCOMPARE, QTRY_COMPARE...) report to Qt
// Test's own runner, QTest::qExec, which these gtest programs never start:
// there a failing check only prints a line and returns from the function,
// and the gtest test passes whatever the code did. tests/CMakeLists.txt puts
// this header before every test source (-include), so no test file can miss
// it: Qt Test's headers come in here first (a later #include <QTest> changes
// nothing), then each check is made a fatal gtest failure at its line that
// says what was checked, and the waits keep their time-outs. The macros that
// only mean something inside qExec (skips, expected failures, test data) do
// not compile. test_qt_checks.cpp holds every Qt Test macro to this.

#include <QtTest/QTest>
#include <QtTest/qtestsystem.h>

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <type_traits>

namespace zrv_qt_checks {

// A value as Qt Test prints it, else as gtest does.
template <class T>
std::string show(const T& v);
inline std::string show(const char* s) { return s ? '"' + std::string(s) + '"' : std::string("nullptr"); }
template <class T>
std::string show(const QList<T>& list);
inline std::string show(const QStringList& list) { return show(static_cast<const QList<QString>&>(list)); }

template <class T>
std::string show(const T& v) {
    if (char* s = QTest::toString(v)) {
        std::string out(s);
        delete[] s;
        return out;
    }
    return ::testing::PrintToString(v);
}
template <class T>
std::string show(const QList<T>& list) {
    std::string out = "{";
    for (int i = 0; i < list.size(); ++i) out += (i ? ", " : "") + show(list.at(i));
    return out + "}";
}

template <class T>
constexpr bool isCString = std::is_same<T, const char*>::value || std::is_same<T, char*>::value;

// Floating values as Qt Test compares them: fuzzily, an infinity or a NaN
// only with its own kind.
template <class F>
bool sameFloating(F actual, F expected) {
    if (std::isnan(expected)) return std::isnan(actual);
    if (std::isinf(expected)) return std::isinf(actual) && (actual < 0) == (expected < 0);
    if (qFuzzyIsNull(expected)) return qFuzzyIsNull(actual);
    return qFuzzyCompare(actual, expected);
}

// QCOMPARE's equality: C strings by their text, floating values fuzzily,
// everything else with ==.
template <class A, class E>
bool same(const A& actual, const E& expected) {
    using DA = std::decay_t<A>;
    using DE = std::decay_t<E>;
    if constexpr (isCString<DA> && isCString<DE>) {
        const char* a = actual;
        const char* e = expected;
        return a == e || (a && e && std::strcmp(a, e) == 0);
    } else if constexpr (std::is_floating_point<DA>::value && std::is_floating_point<DE>::value) {
        using F = std::conditional_t<std::is_same<DA, float>::value && std::is_same<DE, float>::value, float, double>;
        return sameFloating(F(actual), F(expected));
    } else {
        return actual == expected;
    }
}

// "after N ms" for a check that waited, nothing for one that did not.
inline std::string waited(int timeoutMs) {
    return timeoutMs < 0 ? std::string() : " after " + std::to_string(timeoutMs) + " ms";
}

template <class A, class E>
::testing::AssertionResult compare(const char* macro, const char* actualText, const char* expectedText,
                                   int timeoutMs, const A& actual, const E& expected) {
    if (same(actual, expected)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << macro << "(" << actualText << ", " << expectedText
                                         << "): the values differ" << waited(timeoutMs) << "\n   Actual   ("
                                         << actualText << "): " << show(actual) << "\n   Expected ("
                                         << expectedText << "): " << show(expected);
}

inline ::testing::AssertionResult verify(const char* macro, const char* text, int timeoutMs, bool holds,
                                         const char* description = nullptr) {
    if (holds) return ::testing::AssertionSuccess();
    ::testing::AssertionResult r = ::testing::AssertionFailure();
    r << macro << "(" << text << "): false" << waited(timeoutMs);
    if (description) r << ": " << description;
    return r;
}

}  // namespace zrv_qt_checks

// A check's result: a fatal failure at the macro's line, and the function
// returns, as the Qt Test macro returned.
#define ZRV_QT_CHECK_(result)                                                \
    do {                                                                     \
        const ::testing::AssertionResult zrv_qt_result_ = (result);          \
        if (!zrv_qt_result_) GTEST_FAIL() << zrv_qt_result_.message();       \
    } while (false)

// Waits, handling the GUI thread's events, until the condition holds or the
// time-out passes; a condition that holds already does not wait.
#define ZRV_QT_WAIT_(condition, timeoutMs)                                                               \
    do {                                                                                                 \
        if (!(condition)) {                                                                              \
            const bool zrv_qt_held_ = QTest::qWaitFor([&]() -> bool { return bool(condition); }, (timeoutMs)); \
            (void)zrv_qt_held_;                                                                          \
        }                                                                                                \
    } while (false)

#define ZRV_QTRY_VERIFY_(macro, expr, timeout, description)                                                     \
    do {                                                                                                       \
        ZRV_QT_WAIT_(expr, timeout);                                                                           \
        ZRV_QT_CHECK_(::zrv_qt_checks::verify(macro, #expr, (timeout), static_cast<bool>(expr), description)); \
    } while (false)
#define ZRV_QTRY_COMPARE_(macro, expr, expected, timeout)                                                 \
    do {                                                                                                 \
        ZRV_QT_WAIT_(::zrv_qt_checks::same((expr), (expected)), timeout);                                \
        ZRV_QT_CHECK_(::zrv_qt_checks::compare(macro, #expr, #expected, (timeout), (expr), (expected))); \
    } while (false)

#undef QVERIFY
#undef QVERIFY2
#undef QCOMPARE
#undef QFAIL
#undef QVERIFY_EXCEPTION_THROWN
#undef QTRY_LOOP_IMPL
#undef QTRY_TIMEOUT_DEBUG_IMPL
#undef QTRY_IMPL
#undef QTRY_VERIFY_WITH_TIMEOUT
#undef QTRY_VERIFY
#undef QTRY_VERIFY2_WITH_TIMEOUT
#undef QTRY_VERIFY2
#undef QTRY_COMPARE_WITH_TIMEOUT
#undef QTRY_COMPARE
#undef QSKIP_INTERNAL
#undef QSKIP
#undef QEXPECT_FAIL
#undef QFETCH
#undef QFETCH_GLOBAL
#undef QTEST

#define QVERIFY(statement) \
    ZRV_QT_CHECK_(::zrv_qt_checks::verify("QVERIFY", #statement, -1, static_cast<bool>(statement)))
#define QVERIFY2(statement, description)                                                          \
    ZRV_QT_CHECK_(::zrv_qt_checks::verify("QVERIFY2", #statement, -1, static_cast<bool>(statement), \
                                          static_cast<const char*>(description)))
#define QCOMPARE(actual, expected) \
    ZRV_QT_CHECK_(::zrv_qt_checks::compare("QCOMPARE", #actual, #expected, -1, (actual), (expected)))
#define QFAIL(message) GTEST_FAIL() << "QFAIL: " << static_cast<const char*>(message)
#define QVERIFY_EXCEPTION_THROWN(expression, exceptiontype) \
    ASSERT_THROW(expression, exceptiontype) << "QVERIFY_EXCEPTION_THROWN(" #expression ", " #exceptiontype ")"

#define QTRY_VERIFY(expr) ZRV_QTRY_VERIFY_("QTRY_VERIFY", expr, 5000, nullptr)
#define QTRY_VERIFY_WITH_TIMEOUT(expr, timeout) ZRV_QTRY_VERIFY_("QTRY_VERIFY_WITH_TIMEOUT", expr, timeout, nullptr)
#define QTRY_VERIFY2(expr, messageExpression) \
    ZRV_QTRY_VERIFY_("QTRY_VERIFY2", expr, 5000, qPrintable(QString(messageExpression)))
#define QTRY_VERIFY2_WITH_TIMEOUT(expr, messageExpression, timeout) \
    ZRV_QTRY_VERIFY_("QTRY_VERIFY2_WITH_TIMEOUT", expr, timeout, qPrintable(QString(messageExpression)))
#define QTRY_COMPARE(expr, expected) ZRV_QTRY_COMPARE_("QTRY_COMPARE", expr, expected, 5000)
#define QTRY_COMPARE_WITH_TIMEOUT(expr, expected, timeout) \
    ZRV_QTRY_COMPARE_("QTRY_COMPARE_WITH_TIMEOUT", expr, expected, timeout)

// Only Qt Test's runner can skip, expect a failure or hand out test data.
#define QSKIP(...) static_assert(false, "QSKIP needs Qt Test's runner: use ZRV_SKIP_OR_FAIL_UNDER_CI or GTEST_SKIP")
#define QEXPECT_FAIL(...) static_assert(false, "QEXPECT_FAIL needs Qt Test's runner")
#define QFETCH(...) static_assert(false, "QFETCH needs Qt Test's runner: use a table of rows")
#define QFETCH_GLOBAL(...) static_assert(false, "QFETCH_GLOBAL needs Qt Test's runner: use a table of rows")
#define QTEST(...) static_assert(false, "QTEST needs Qt Test's runner: use QCOMPARE or EXPECT_EQ")
