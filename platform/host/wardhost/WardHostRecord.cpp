#include "WardHostRecord.h"

namespace wardhost {

std::string jsonString(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

bool Record::open(const std::string &path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file != nullptr)
        std::fclose(m_file);
    m_file = std::fopen(path.c_str(), "a");
    return m_file != nullptr;
}

void Record::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file != nullptr)
        std::fclose(m_file);
    m_file = nullptr;
}

void Record::write(const std::string &event, const std::vector<std::pair<std::string, std::string>> &fields)
{
    std::string line = "{\"event\":" + jsonString(event);
    for (const auto &f : fields)
        line += "," + jsonString(f.first) + ":" + f.second;
    line += "}\n";
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file == nullptr)
        return;
    std::fputs(line.c_str(), m_file);
    std::fflush(m_file);
}

} // namespace wardhost
