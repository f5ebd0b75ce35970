// Reading the rule-list fixtures written by tests/fixtures/ipfw_records.py.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::vector<uint8_t> ipfwFixture(const std::string& name)
{
    std::ifstream in(std::string(IPFW_FIXTURES) + "/" + name, std::ios::binary);
    if (!in)
        throw std::runtime_error("missing fixture " + name);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
