#pragma once
// How the manager reports an exception that ends a request.
#include "KIpMgrAsync.h"

// Inside a catch block: fails the status with the exception being handled. A file exception gives error 5 and
// "<where>: caught KExceptionFileIO(<description>, <message>)!", another exception of the program's family
// error 12 and "<where>: caught KException(<description>, <message>)!", anything else error 12 and
// "<where>: caught exception!".
void FailWithCurrentException(KIpMgrAsync& status, const char* where);
