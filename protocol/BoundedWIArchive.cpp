// boost's implementation templates, instantiated for the wide bounded archive.
#include "BoundedWIArchive.h"

#include <boost/archive/detail/archive_serializer_map.hpp>
#include <boost/archive/impl/archive_serializer_map.ipp>
#include <boost/archive/impl/basic_text_iarchive.ipp>
#include <boost/archive/impl/text_wiarchive_impl.ipp>

namespace boost {
namespace archive {
template class detail::archive_serializer_map<HVO::bounded_wiarchive>;
template class basic_text_iarchive<HVO::bounded_wiarchive>;
template class text_wiarchive_impl<HVO::bounded_wiarchive>;
} // namespace archive
} // namespace boost
