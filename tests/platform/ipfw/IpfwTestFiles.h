// Reading the rule-list fixtures written by tests/fixtures/ipfw_records.py.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "Files.h"

inline std::vector<uint8_t> ipfwFixture(const std::string& name)
{
    const std::string path = std::string(IPFW_FIXTURES) + "/" + name;
    if (::access(path.c_str(), R_OK) != 0)
        throw std::runtime_error("missing fixture " + name);
    return wardtest::readBytes(path);
}
