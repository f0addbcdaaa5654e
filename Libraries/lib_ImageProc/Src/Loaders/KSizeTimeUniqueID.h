#pragma once
// The unique identifier of a file that carries none of its own (JPEG, TIFF): its size and its last
// modification time, "%X-%llX", the time in 100-ns units since 1970 at the full resolution the storage
// offers, so that a file rewritten within a second at the same size gets another identifier.
#include "KLoaderOutcome.h"

// Appends "UNIQUEID" to the request's tree. Fails with error 2 when the tree is null
// ("<name>: Property list pointer is NULL") or the file cannot be opened
// ("<name>::priGetUniqueID: unable to open file").
KLoaderOutcome AppendSizeTimeUniqueID(KLoaderRequest& request, const char* loaderName);
