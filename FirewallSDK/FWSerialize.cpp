// Narrow archives: the rule file (libportward).
#include "FWRecords.h"

#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>

namespace FirewallSDK {

using boost::archive::text_iarchive;
using boost::archive::text_oarchive;

template void NetworkInterfaceInfo::serialize<text_iarchive>(text_iarchive&, const unsigned int);
template void NetworkInterfaceInfo::serialize<text_oarchive>(text_oarchive&, const unsigned int);

template void FWDetailedData::serialize<text_iarchive>(text_iarchive&, const unsigned int);
template void FWDetailedData::serialize<text_oarchive>(text_oarchive&, const unsigned int);

template void FWExtDetailedData::serialize<text_iarchive>(text_iarchive&, const unsigned int);
template void FWExtDetailedData::serialize<text_oarchive>(text_oarchive&, const unsigned int);

} // namespace FirewallSDK
