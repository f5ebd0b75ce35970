// Every test program is a trace host (TraceHost.cpp), and starts in the
// UTF-8 C locale as the system's programs do.
#include <clocale>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
