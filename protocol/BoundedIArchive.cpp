// boost's implementation templates, instantiated for the narrow bounded archive.
#include "BoundedIArchive.h"

#include <boost/archive/detail/archive_serializer_map.hpp>
#include <boost/archive/impl/archive_serializer_map.ipp>
#include <boost/archive/impl/basic_text_iarchive.ipp>
#include <boost/archive/impl/text_iarchive_impl.ipp>

namespace boost {
namespace archive {
template class detail::archive_serializer_map<HVO::bounded_iarchive>;
template class basic_text_iarchive<HVO::bounded_iarchive>;
template class text_iarchive_impl<HVO::bounded_iarchive>;
} // namespace archive
} // namespace boost
