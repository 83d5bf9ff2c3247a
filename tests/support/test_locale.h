// Locales for the in-process tests, which run the conversion under the C
// library's global locale as the program does after SelectUserLocale.
#ifndef LUMENTRACE_TESTS_SUPPORT_TEST_LOCALE_H_
#define LUMENTRACE_TESTS_SUPPORT_TEST_LOCALE_H_

// Makes the locale named `name` ("C", "C.UTF-8", "tr_TR.UTF-8") the global
// one for every category. On POSIX systems a locale the system lacks is built
// with localedef into the tests' own LOCPATH folder first; Windows takes the
// nearest locale of its own (a Turkish one for tr_TR, one with Unicode case
// mapping for C.UTF-8). A locale that cannot be had fails the current test
// and gives false, so that a missing locale is never a silent skip.
bool SelectTestLocale(const char* name);

#endif  // LUMENTRACE_TESTS_SUPPORT_TEST_LOCALE_H_
