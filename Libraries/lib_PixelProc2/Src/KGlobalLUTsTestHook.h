#pragma once
// Test seam: when set, called while a table is being built under the class lock, so that a test can make a
// build last as long as it may on a loaded machine. Null in the product.
#include <atomic>

using KGlobalTableBuildForTest = void (*)();
extern std::atomic<KGlobalTableBuildForTest> g_GlobalTableBuildForTest;
