// Text input archives that check every collection count and string length
// against the characters left in the input before anything is allocated
// from it. Same text format as boost's text archives; a count or length
// larger than the rest of the input throws archive_exception
// (input_stream_error). The input must be a string stream (in_avail() is
// then exactly the characters left).
#pragma once

#include <boost/archive/archive_exception.hpp>
#include <boost/serialization/collection_size_type.hpp>

#include <cstddef>
#include <ios>

namespace HVO {

namespace bounded {

/// Characters left in the stream's buffer (0 at the end).
template <class IStream> std::size_t charsLeft(IStream& is)
{
    const std::streamsize n = is.rdbuf() ? is.rdbuf()->in_avail() : 0;
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

/// Throws when `count` units of `unit` characters each do not fit in what is left.
template <class IStream> void check(IStream& is, std::size_t count, std::size_t unit = 1)
{
    if (count > charsLeft(is) / unit)
        throw boost::archive::archive_exception(boost::archive::archive_exception::input_stream_error);
}

} // namespace bounded

} // namespace HVO
