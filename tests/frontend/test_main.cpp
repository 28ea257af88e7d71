// Key waits in the code under test read standard input: point it at an empty file so
// that no test ever waits for a person.
#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
#ifdef _WIN32
    std::freopen("NUL", "rb", stdin);
#else
    std::freopen("/dev/null", "rb", stdin);
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
