// Narrow archives: the rule file (libportward).
#include "FWRecords.h"

#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>

#include "BoundedIArchive.h"

namespace FirewallSDK {

using boost::archive::text_iarchive;
using boost::archive::text_oarchive;
using HVO::bounded_iarchive;

template void NetworkInterfaceInfo::serialize<text_iarchive>(text_iarchive&, const unsigned int);
template void NetworkInterfaceInfo::serialize<text_oarchive>(text_oarchive&, const unsigned int);
template void NetworkInterfaceInfo::serialize<bounded_iarchive>(bounded_iarchive&, const unsigned int);

template void FWDetailedData::serialize<text_iarchive>(text_iarchive&, const unsigned int);
template void FWDetailedData::serialize<text_oarchive>(text_oarchive&, const unsigned int);
template void FWDetailedData::serialize<bounded_iarchive>(bounded_iarchive&, const unsigned int);

template void FWExtDetailedData::serialize<text_iarchive>(text_iarchive&, const unsigned int);
template void FWExtDetailedData::serialize<text_oarchive>(text_oarchive&, const unsigned int);
template void FWExtDetailedData::serialize<bounded_iarchive>(bounded_iarchive&, const unsigned int);

} // namespace FirewallSDK
