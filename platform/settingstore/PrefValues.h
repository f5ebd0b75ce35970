// Value types of the preferences store: reference-counted, immutable once
// handed out. They stand for the platform's numbers, booleans, strings and
// arrays of strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class PrefType { Integer, Boolean, String, Array, Other };

class PrefValue {
public:
    virtual ~PrefValue() = default;
    virtual PrefType type() const = 0;
};
using PrefValueRef = std::shared_ptr<const PrefValue>;

class PrefNumber : public PrefValue {
public:
    explicit PrefNumber(int64_t v) : m_value(v) {}
    PrefType type() const override { return PrefType::Integer; }
    int64_t value() const { return m_value; }

private:
    int64_t m_value;
};

class PrefBoolean : public PrefValue {
public:
    PrefType type() const override { return PrefType::Boolean; }
    bool value() const { return m_value; }
    /// The two shared constants.
    static std::shared_ptr<const PrefBoolean> get(bool v);

private:
    explicit PrefBoolean(bool v) : m_value(v) {}
    bool m_value;
};

class PrefString : public PrefValue {
public:
    PrefType type() const override { return PrefType::String; }
    /// Null unless `utf8` is valid UTF-8 the store can keep (no control
    /// characters but tab and line ends, no U+FFFE/U+FFFF).
    static std::shared_ptr<const PrefString> createWithUTF8(const char* utf8);
    static std::shared_ptr<const PrefString> createWithUTF8(const std::string& utf8);
    const std::string& utf8() const { return m_text; }
    /// Copies the text and its terminator into buf; false (buf untouched)
    /// when they do not fit in `size` bytes.
    bool getCString(char* buf, size_t size) const;

    explicit PrefString(std::string validated) : m_text(std::move(validated)) {}

private:
    std::string m_text;
};
using PrefStringRef = std::shared_ptr<const PrefString>;

class PrefArray : public PrefValue {
public:
    PrefType type() const override { return PrefType::Array; }
    void append(PrefStringRef s) { m_items.push_back(std::move(s)); }
    size_t count() const { return m_items.size(); }
    /// Null past the end.
    PrefStringRef at(size_t i) const { return i < m_items.size() ? m_items[i] : nullptr; }

private:
    std::vector<PrefStringRef> m_items;
};
using PrefArrayRef = std::shared_ptr<const PrefArray>;
using PrefMutableArrayRef = std::shared_ptr<PrefArray>;

/// A value of a kind the store does not hand out (real, date, dict, ...),
/// kept as its XML text so a rewrite does not lose it.
class PrefOther : public PrefValue {
public:
    explicit PrefOther(std::string xml) : m_xml(std::move(xml)) {}
    PrefType type() const override { return PrefType::Other; }
    const std::string& xml() const { return m_xml; }

private:
    std::string m_xml;
};
