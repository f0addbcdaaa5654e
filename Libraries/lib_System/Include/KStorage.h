#pragma once
// Everything a caller of the storage layer needs: the interfaces, the URL functions and the owners.
#include "KIFile.h"
#include "KIFolder.h"
#include "KIStorageClass.h"
#include "KStorageHolder.h"
#include "KStorageURL.h"
