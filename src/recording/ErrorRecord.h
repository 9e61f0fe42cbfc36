#pragma once

#include <QString>

namespace orvo {

// Why a recording was not finalised; the raw value is what the user is shown. Whatever the
// reason, the segments stay on disk and the next start recovers them.
enum class ErrorRecord {
    margeFail,   // the export failed, or its file does not read back
    margeUnknow, // the export ended with status unknown
    margeCancel, // the export ended without a file: cancelled, or still waiting or exporting
    noSpace,     // the records folder's file system has no room for the merged file
    saveFail,    // the merged file is there, but the catalogue did not take its entry
};

QString rawValue(ErrorRecord error);
// The case's name, as the technical log writes it: "margeFail", "noSpace", ...
QString caseName(ErrorRecord error);

} // namespace orvo
