// A death test for a page fault.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

// The statement, run in a child process, dies of a page fault (under the address sanitizer, of
// its report of one).
#if defined(__SANITIZE_ADDRESS__)
#define EXPECT_PAGE_FAULT(statement) EXPECT_DEATH(statement, "SEGV")
#else
#define EXPECT_PAGE_FAULT(statement) EXPECT_EXIT(statement, ::testing::KilledBySignal(SIGSEGV), "")
#endif
