// The archive kinds each record is written to and read from: narrow archives
// for the rule file, wide ones for the pane's payloads.
#include "FWRecords.h"

#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>
#include <boost/archive/text_wiarchive.hpp>
#include <boost/archive/text_woarchive.hpp>

namespace FirewallSDK {

using boost::archive::text_iarchive;
using boost::archive::text_oarchive;
using boost::archive::text_wiarchive;
using boost::archive::text_woarchive;

template void NetworkInterfaceInfo::serialize<text_iarchive>(text_iarchive&, const unsigned int);
template void NetworkInterfaceInfo::serialize<text_oarchive>(text_oarchive&, const unsigned int);
template void NetworkInterfaceInfo::serialize<text_wiarchive>(text_wiarchive&, const unsigned int);
template void NetworkInterfaceInfo::serialize<text_woarchive>(text_woarchive&, const unsigned int);

template void FWBasicData::serialize<text_wiarchive>(text_wiarchive&, const unsigned int);

template void FWDetailedData::serialize<text_iarchive>(text_iarchive&, const unsigned int);
template void FWDetailedData::serialize<text_oarchive>(text_oarchive&, const unsigned int);
template void FWDetailedData::serialize<text_wiarchive>(text_wiarchive&, const unsigned int);
template void FWDetailedData::serialize<text_woarchive>(text_woarchive&, const unsigned int);

template void FWExtDetailedData::serialize<text_iarchive>(text_iarchive&, const unsigned int);
template void FWExtDetailedData::serialize<text_oarchive>(text_oarchive&, const unsigned int);

} // namespace FirewallSDK
