#pragma once

#include <string>

// The client library refusing a call on a connection that is sound, as it
// does when it runs out of memory or finds its state broken: the program's
// calls that send, flush, read input, switch the pipeline or carry a COPY go
// through here (the test programs are linked with these calls wrapped), and
// the n-th of them after arming fails with the library's failure value.
namespace libpq_refusals {

// Counts the calls from now on and refuses the n-th (n = 0: none).
void arm(int n);
void disarm();
// Whether the armed call was made and refused.
bool refused();
// The calls since arm(), one letter each: which function, in order.
std::string calls();

} // namespace libpq_refusals
