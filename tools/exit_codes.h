// quorvane-render's exit statuses, which scripts rely on (--help and the
// manual page list them). An interrupt exits with 128 + the signal number,
// as a shell reports a program the signal ended.
#pragma once

namespace qvtools {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a file could not be rendered (in a batch: at least one)
constexpr int kExitUsage = 2;   // the command line asks for something impossible

}  // namespace qvtools
