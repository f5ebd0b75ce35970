// The wide bounded input archive (see BoundedArchive.h).
#pragma once

#include "BoundedArchive.h"

#include <boost/archive/text_wiarchive.hpp>

namespace HVO {

class bounded_wiarchive
    : public bounded::text_iarchive<bounded_wiarchive, boost::archive::text_wiarchive_impl<bounded_wiarchive>, wchar_t> {
public:
    explicit bounded_wiarchive(std::wistream& is, unsigned int flags = 0) : text_iarchive(is, flags)
    {
        if (0 == (flags & boost::archive::no_header))
            init();
    }
    ~bounded_wiarchive() override {}
};

HVO_BOUNDED_SEQUENCES(bounded_wiarchive)

} // namespace HVO
