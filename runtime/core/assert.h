// Internal checks. KIV_ASSERT states an invariant of the runtime itself; bad
// input from the language never reaches one (it raises a language error).
#pragma once

namespace kiv {
// Reports a failed internal check as a fatal runtime error; never returns.
[[noreturn]] void assert_failed(const char* file, int line, const char* why);
}

#if defined(NDEBUG) && !defined(KIV_GC_TORTURE)
#define KIV_ASSERT(cond, why) ((void)0)
#else
#define KIV_ASSERT(cond, why) ((cond) ? (void)0 : ::kiv::assert_failed(__FILE__, __LINE__, why))
#endif
