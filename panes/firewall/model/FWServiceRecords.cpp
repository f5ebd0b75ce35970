// The payload records' serialize members for the wide archives that carry
// them: the pane's and the service's.
#include "FWServiceRecords.h"

#include <boost/archive/text_woarchive.hpp>

#include "BoundedWIArchive.h"

namespace FWService {

using boost::archive::text_woarchive;
using HVO::bounded_wiarchive;

template void FWOptionalData::serialize<text_woarchive>(text_woarchive&, const unsigned int);
template void FWOptionalData::serialize<bounded_wiarchive>(bounded_wiarchive&, const unsigned int);
template void TrustedGroupInfo::serialize<text_woarchive>(text_woarchive&, const unsigned int);
template void TrustedGroupInfo::serialize<bounded_wiarchive>(bounded_wiarchive&, const unsigned int);
template void TrustedList::serialize<text_woarchive>(text_woarchive&, const unsigned int);
template void TrustedList::serialize<bounded_wiarchive>(bounded_wiarchive&, const unsigned int);
template void CompleteFWData::serialize<text_woarchive>(text_woarchive&, const unsigned int);
template void CompleteFWData::serialize<bounded_wiarchive>(bounded_wiarchive&, const unsigned int);

} // namespace FWService
