#include "xades/signature_info.h"

namespace tessal::xml {

TimeStampRecord& SignatureInfo::addArchiveTimeStamp(Timestamp100ns generationTime) {
    TimeStampRecord& record = archiveTimeStamps.emplace_back();
    record.valid = 1;
    record.generationTime = generationTime;
    return record;
}

}  // namespace tessal::xml
