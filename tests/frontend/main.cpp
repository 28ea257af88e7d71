// Key waits in the code under test read standard input: point it at an empty file so
// that no test ever waits for a person. The tool's output is compared as the Shift-JIS
// bytes it writes under the C locale, here and in the programs the tests start (a test
// that wants another locale sets its own).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
#ifdef _WIN32
    std::freopen("NUL", "rb", stdin);
#else
    std::freopen("/dev/null", "rb", stdin);
    setenv("LC_ALL", "C", 1);
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
