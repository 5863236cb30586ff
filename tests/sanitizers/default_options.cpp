// Linked into every program of the sanitizer build. The runtimes ask for these at start-up;
// ASAN_OPTIONS, LSAN_OPTIONS and UBSAN_OPTIONS in the environment still override single options.
//
// exitcode=66: a report ends the program with a code none of the programs uses, so a test that
// expects an ordinary failure (1, 2) from ostracom-cli still fails on a report.

extern "C" {

__attribute__((visibility("default"), used)) const char *__asan_default_options()
{
    return "exitcode=66:detect_leaks=1:check_initialization_order=1:"
           "detect_stack_use_after_return=1:print_summary=1";
}

__attribute__((visibility("default"), used)) const char *__lsan_default_options()
{
    return "suppressions=" OSTRACOM_LSAN_SUPPRESSIONS ":print_suppressions=0";
}

__attribute__((visibility("default"), used)) const char *__ubsan_default_options()
{
    return "exitcode=66:halt_on_error=1:print_stacktrace=1:"
           "suppressions=" OSTRACOM_UBSAN_SUPPRESSIONS;
}
}
