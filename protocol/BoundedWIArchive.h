// The wide bounded input archive (see BoundedArchive.h).
#pragma once

#include "BoundedArchive.h"

#include <boost/archive/text_wiarchive.hpp>

#include <string>

namespace HVO {

class bounded_wiarchive : public boost::archive::text_wiarchive_impl<bounded_wiarchive> {
    using base = boost::archive::text_wiarchive_impl<bounded_wiarchive>;

public:
    explicit bounded_wiarchive(std::wistream& is, unsigned int flags = 0) : base(is, flags)
    {
        if (0 == (flags & boost::archive::no_header))
            init();
    }
    ~bounded_wiarchive() override {}

protected:
    friend class boost::archive::detail::interface_iarchive<bounded_wiarchive>;
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
        s.resize(0);
        s.reserve(size);
        while (size-- > 0)
            s += is.narrow(is.get(), '\0');
    }
    void load(std::wstring& ws)
    {
        std::size_t size;
        *this >> size;
        is.get(); // separating space
        bounded::check(is, size);
        ws.resize(size);
        if (size > 0)
            is.read(&ws[0], static_cast<std::streamsize>(size));
    }
};

} // namespace HVO
