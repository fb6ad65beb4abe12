#pragma once

namespace zeplo {

// Whether the classes that draw their states (ResultSet, PgConnection's
// modes, PageStore, ReportRenderer) assert them after every transition in
// this build: Q_ASSERT is live in the Debug builds, the sanitizer build among
// them, and compiled out of the others. Told by the engine as it was built.
bool stateChecksOn();

} // namespace zeplo
