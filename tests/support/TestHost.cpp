// Every test program is a trace host: it defines the two variables the
// libraries declare, and starts in the UTF-8 C locale as the system's
// programs do.
#include <clocale>
#include <cstdio>

#include <gtest/gtest.h>

FILE* logFilePtr = nullptr;
int traceInited = 0;

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
