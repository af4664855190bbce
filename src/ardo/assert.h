#pragma once

#include <cstdio>
#include <cstdlib>

namespace ardo {

// Precondition failures are programming errors, never bad input from a link: report the failed
// expression with the source unit that checks it, then stop at once. They stay active in every
// build type; define ARDO_NO_ASSERTIONS to compile them out.
[[noreturn]] inline void assertionFailed(const char *expression, const char *unit, int line)
{
    std::fprintf(stderr, "ASSERT: \"%s\" in file %s, line %d\n", expression, unit, line);
    std::fflush(stderr);
    std::abort();
}

} // namespace ardo

#ifdef ARDO_NO_ASSERTIONS
#define ARDO_ASSERT(condition, unit) static_cast<void>(0)
#else
#define ARDO_ASSERT(condition, unit) \
    ((condition) ? static_cast<void>(0) : ::ardo::assertionFailed(#condition, unit, __LINE__))
#endif
