// How capturing or restoring a file's three times ended. Plain C++: the CBF
// core's platforms report it too, and each export turns it into its own
// result code in one place.
#pragma once

namespace setupsup {

// kCannotOpen: the exclusive open failed (the file is missing, not
// accessible so, or open through another handle); kFailed: it opened, and
// reading or setting the times did not succeed.
enum class FileTimesResult { kOk, kCannotOpen, kFailed };

} // namespace setupsup
