#pragma once
// The memory cache budget the programs of this tree start with, in MiB: the stage results of a 14-megapixel raw
// file fit it whole (120 MiB, the budget of the original application, does not hold them).
constexpr unsigned kDefaultCacheBudgetMiB = 1024;
