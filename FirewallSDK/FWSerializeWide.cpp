// Wide archives: the pane's payloads. Narrow texts cross them byte by byte
// only when the stream carries a byte-wise ctype<wchar_t> facet.
#include "FWRecords.h"

#include <boost/archive/text_wiarchive.hpp>
#include <boost/archive/text_woarchive.hpp>

#include "BoundedWIArchive.h"

namespace FirewallSDK {

using boost::archive::text_wiarchive;
using boost::archive::text_woarchive;
using HVO::bounded_wiarchive;

template void NetworkInterfaceInfo::serialize<text_wiarchive>(text_wiarchive&, const unsigned int);
template void NetworkInterfaceInfo::serialize<text_woarchive>(text_woarchive&, const unsigned int);
template void NetworkInterfaceInfo::serialize<bounded_wiarchive>(bounded_wiarchive&, const unsigned int);

template void FWBasicData::serialize<text_wiarchive>(text_wiarchive&, const unsigned int);
template void FWBasicData::serialize<bounded_wiarchive>(bounded_wiarchive&, const unsigned int);

template void FWDetailedData::serialize<text_wiarchive>(text_wiarchive&, const unsigned int);
template void FWDetailedData::serialize<text_woarchive>(text_woarchive&, const unsigned int);
template void FWDetailedData::serialize<bounded_wiarchive>(bounded_wiarchive&, const unsigned int);

} // namespace FirewallSDK
