#pragma once

#include <string>

// The client library refusing a call on a connection that is sound, as it
// does when it runs out of memory or finds its state broken: the program's
// calls that send, flush, read input, switch the pipeline or carry a COPY go
// through here (the test programs are linked with these calls wrapped), and
// the n-th of them after arming fails with the library's failure value.
namespace libpq_refusals {

// A refusal fails the call; a full buffer only says "not now", as a network
// slower than the program says: a COPY's data or end not queued (then only
// those calls count, so that each is reached whatever the flushes do).
enum class Kind { Failure, FullBuffer };

// Counts the calls from now on and refuses the n-th (n = 0: none).
void arm(int n, Kind kind = Kind::Failure);
void disarm();
// Whether the armed call was made and refused.
bool refused();
// The calls since arm(), one letter each: which function, in order.
std::string calls();

} // namespace libpq_refusals
