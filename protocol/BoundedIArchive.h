// The narrow bounded input archive (see BoundedArchive.h).
#pragma once

#include "BoundedArchive.h"

#include <boost/archive/text_iarchive.hpp>

#include <string>

namespace HVO {

class bounded_iarchive : public boost::archive::text_iarchive_impl<bounded_iarchive> {
    using base = boost::archive::text_iarchive_impl<bounded_iarchive>;

public:
    explicit bounded_iarchive(std::istream& is, unsigned int flags = 0) : base(is, flags)
    {
        if (0 == (flags & boost::archive::no_header))
            init();
    }
    ~bounded_iarchive() override {}

protected:
    friend class boost::archive::detail::interface_iarchive<bounded_iarchive>;
    friend class boost::archive::load_access;

    using base::load;
    void load(boost::serialization::collection_size_type& t)
    {
        base::load(t);
        bounded::check(is, t);
    }
    void load(std::string& s)
    {
        std::size_t size;
        *this >> size;
        is.get(); // separating space
        bounded::check(is, size);
        s.resize(size);
        if (size > 0)
            is.read(&s[0], static_cast<std::streamsize>(size));
    }
    void load(std::wstring& ws)
    {
        std::size_t size;
        *this >> size;
        is.get(); // separating space
        bounded::check(is, size, sizeof(wchar_t));
        ws.resize(size);
        if (size > 0)
            is.read(reinterpret_cast<char*>(&ws[0]),
                    static_cast<std::streamsize>(size * sizeof(wchar_t)));
    }
};

} // namespace HVO
