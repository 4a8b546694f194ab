// Runs a test body in a child process of its own: a fresh copy of the test
// program, started by Google Test's death-test machinery. For state that a
// process sets up once and never undoes, such as the loaded import modules.
//
// The child ends through exit(), so the library's unload runs in every
// scenario (under the sanitizers too, leak checks included). Its failures are
// written to its standard error, which the parent shows when it fails.
// Everything the body needs (temporary files included) is made inside it.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace KorTest {

[[noreturn]] inline void EndFreshProcess() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const ::testing::TestResult* result = test != nullptr ? test->result() : nullptr;
    for (int i = 0; result != nullptr && i < result->total_part_count(); ++i) {
        const ::testing::TestPartResult& part = result->GetTestPartResult(i);
        if (part.failed())
            std::fprintf(stderr, "%s:%d: %s\n", part.file_name() ? part.file_name() : "?", part.line_number(),
                         part.message());
    }
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(::testing::Test::HasFailure() ? 1 : 0);
}

template <class Body>
void InFreshProcess(Body body) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            body();
            EndFreshProcess();
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace KorTest
