#pragma once
// Test seam: when set, every load thread calls it with the request before handling it, so that tests can
// hold a thread busy. Null in the product.
#include <atomic>

#include "KLoaderRequest.h"

using KLoaderHookForTest = void (*)(KLoaderRequest& request);
extern std::atomic<KLoaderHookForTest> g_LoaderHookForTest;
