// log.h: the centre's log lines: one line per event on stdout, each with
// the UTC time, flushed at once so that a script reading a pipe sees it.
#ifndef MMS_TOOLS_MMS_CENTRE_LOG_H_
#define MMS_TOOLS_MMS_CENTRE_LOG_H_

#include <string>

namespace centre {

// "13:05:01 mms-centre: <line>"; safe from any thread.
void Log(const std::string& line);

}  // namespace centre

#endif  // MMS_TOOLS_MMS_CENTRE_LOG_H_
