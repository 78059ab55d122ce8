// record_limits.h: the fixed capacities of the message record and its
// slides. Every write into a fixed field or array is checked against these.
#ifndef MMS_MODEL_RECORD_LIMITS_H_
#define MMS_MODEL_RECORD_LIMITS_H_

#include <stddef.h>

namespace mms::model {

// Entries of the file-name array AddFileNameToArray makes; also the most
// names the record ever holds through it.
constexpr int kMaxFileNames = 1024;
// Slides of a message, and files of one slide.
constexpr int kMaxSlides = 32;
constexpr int kMaxSlideFiles = 32;

}  // namespace mms::model

#endif  // MMS_MODEL_RECORD_LIMITS_H_
