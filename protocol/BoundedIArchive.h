// The narrow bounded input archive (see BoundedArchive.h).
#pragma once

#include "BoundedArchive.h"

#include <boost/archive/text_iarchive.hpp>

namespace HVO {

class bounded_iarchive
    : public bounded::text_iarchive<bounded_iarchive, boost::archive::text_iarchive_impl<bounded_iarchive>, char> {
public:
    explicit bounded_iarchive(std::istream& is, unsigned int flags = 0) : text_iarchive(is, flags)
    {
        if (0 == (flags & boost::archive::no_header))
            init();
    }
    ~bounded_iarchive() override {}
};

HVO_BOUNDED_SEQUENCES(bounded_iarchive)

} // namespace HVO
