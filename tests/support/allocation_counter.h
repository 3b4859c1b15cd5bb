// Counts the program's heap allocations. A program that includes this header must compile
// tests/support/allocation_counter.cpp, which replaces the global operator new.
#pragma once

namespace dunelo {

// How many times operator new has run in this program so far.
long long allocationCount();

}  // namespace dunelo
