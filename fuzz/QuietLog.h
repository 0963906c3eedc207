#pragma once
// Fuzz targets that reach the support layer switch its log off once: writing a log
// line for every input would slow them down and fill the disk.
#include "support/OWLog.h"

namespace fuzzsupport {

inline void quietLog() {
    static const bool quiet = [] {
        if (auto log = OWLog::sharedController()) {
            log->setLoggingDisabled(true);
        }
        return true;
    }();
    (void)quiet;
}

}  // namespace fuzzsupport
